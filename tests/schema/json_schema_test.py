#!/usr/bin/env python3
"""Runs nodrix --json over every capture the tests have and checks the lines
with check_json_lines.py against docs/nodrix.schema.json.

    json_schema_test.py NODRIX [KEPT_DIR]

The captures: the sample, a 3,000-frame mix from bench/gen_mix.py, the pcap
files of the fuzz corpus, and those the other tests handed to nodrix (kept
in KEPT_DIR through NODRIX_KEEP_CAPTURES). Exits 77 (skipped) without
python3-jsonschema.
"""

import os
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
OPTION_SETS = [
    [],
    ["--expand-all", "--verbose", "--calc-checksums", "--print-raw-hex", "--statistic"],
    # The views' and the followed stream's lines (a capture without a TCP
    # stream 0 only ends with status 1).
    ["--stats", "conversations,endpoints,protocols,io,dns,http,tls", "--follow", "tcp,0"],
]


def captures(tmp, kept):
    found = [("-P", os.path.join(ROOT, "samples", "sample.pcap"))]
    mix = os.path.join(tmp, "mix.pcap")
    subprocess.run([sys.executable, os.path.join(ROOT, "bench", "gen_mix.py"), mix, "3000"], check=True)
    found.append(("-P", mix))
    corpus = os.path.join(ROOT, "fuzz", "corpus", "pcap_file")
    for i, name in enumerate(sorted(os.listdir(corpus))):
        with open(os.path.join(corpus, name), "rb") as f:
            data = f.read()[3:]  # behind the fuzz target's three bytes of switches
        if len(data) >= 24:
            path = os.path.join(tmp, "corpus%d.pcap" % i)
            with open(path, "wb") as f:
                f.write(data)
            found.append(("-P", path))
    if kept and os.path.isdir(kept):
        for name in sorted(os.listdir(kept)):
            flag = name[-2:]
            if flag in ("-P", "-I", "-S"):
                found.append((flag, os.path.join(kept, name)))
    return found


def main():
    try:
        import jsonschema  # noqa: F401
    except ImportError:
        print("skipped: python3-jsonschema is not installed (scripts/deps.sh --test installs it)")
        return 77
    nodrix = sys.argv[1]
    kept = sys.argv[2] if len(sys.argv) > 2 else None
    with tempfile.TemporaryDirectory() as tmp:
        outputs = []
        files = captures(tmp, kept)
        for n, (flag, path) in enumerate(files):
            for k, options in enumerate(OPTION_SETS):
                out = os.path.join(tmp, "%d-%d.jsonl" % (n, k))
                with open(out, "wb") as f:
                    subprocess.run([nodrix, flag, path, "--json"] + options, stdout=f, stderr=subprocess.DEVNULL,
                                   timeout=120)
                outputs.append(out)
        print("%d captures" % len(files))
        check = os.path.join(ROOT, "tests", "schema", "check_json_lines.py")
        schema = os.path.join(ROOT, "docs", "nodrix.schema.json")
        return subprocess.run([sys.executable, check, "--report", "--schema", schema] + outputs).returncode


if __name__ == "__main__":
    sys.exit(main())
