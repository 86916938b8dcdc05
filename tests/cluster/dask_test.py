#!/usr/bin/python3
"""The Dask runner end to end on a LocalCluster of two workers.

usage: dask_test.py NODRIX

Its parts, put together, must be exactly the serial output of the same
files; a slice that fails once is tried again; one that fails twice stops
the run, loudly. Exits 77 (skipped) when Dask's distributed package is
missing.
"""

import os
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
RUNNER = os.path.join(ROOT, "cluster", "nodrix_dask.py")

# A nodrix that fails for the slice whose range holds byte AT: always, or
# only the first time (it leaves a mark).
FLAKY = """#!/bin/sh
take=0
for a in "$@"; do
  if [ $take = 1 ]; then
    start=${{a%%:*}}; end=${{a#*:}}
    if [ "$start" -le {at} ] && [ {at} -lt "$end" ]; then
      if [ "{mode}" = always ] || [ ! -e "{mark}" ]; then
        touch "{mark}"; echo "Error: disk on fire." >&2; exit 3
      fi
    fi
  fi
  take=0; [ "$a" = --range ] && take=1
done
exec "{nodrix}" "$@"
"""


def run(args):
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def parts_of(directory):
    names = sorted(n for n in os.listdir(directory) if n.startswith("part-"))
    data = b""
    for name in names:
        with open(os.path.join(directory, name), "rb") as f:
            data += f.read()
    return names, data


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    nodrix = sys.argv[1]
    try:
        import distributed  # noqa: F401
    except ImportError:
        print("skipped: python3-distributed is not installed")
        return 77
    results = []

    def check(name, ok, detail=""):
        results.append(ok)
        print(("ok   " if ok else "FAIL ") + name + ("" if ok else "\n" + detail))

    with tempfile.TemporaryDirectory() as tmp:
        files = []
        for name, frames in (("a.pcap", "2000"), ("b.pcap", "50")):
            files.append(os.path.join(tmp, name))
            subprocess.run([sys.executable, os.path.join(ROOT, "bench", "gen_mix.py"), files[-1], frames], check=True)

        for output, flags in (("json", ["--json"]), ("summary", ["--summary"]), ("text", ["--verbose"])):
            out = os.path.join(tmp, "out-" + output)
            passed = ["--pass=--verbose"] if output == "text" else []
            r = run([RUNNER, "--local", "2", "--slices", "7", "--nodrix", nodrix, "--output", output, "--out", out]
                    + passed + files)
            serial = b"".join(subprocess.run([nodrix, "-P", f] + flags, stdout=subprocess.PIPE).stdout
                              for f in files)
            names, joined = parts_of(out) if r.returncode == 0 else ([], b"")
            check("%s parts put together are the serial output" % output,
                  r.returncode == 0 and joined == serial and len(names) == 14 and "14/14 slices done" in r.stderr,
                  "status %d, %d parts, %d of %d bytes\n%s" % (r.returncode, len(names), len(joined), len(serial),
                                                            r.stderr))

        middle = os.path.getsize(files[0]) // 2
        serial = subprocess.run([nodrix, "-P", files[0], "--json"], stdout=subprocess.PIPE).stdout
        for mode in ("once", "always"):
            wrapper = os.path.join(tmp, "nodrix-" + mode)
            with open(wrapper, "w") as f:
                f.write(FLAKY.format(at=middle, mode=mode, mark=wrapper + ".mark", nodrix=nodrix))
            os.chmod(wrapper, 0o755)
            out = os.path.join(tmp, "out-" + mode)
            r = run([RUNNER, "--local", "2", "--slices", "7", "--nodrix", wrapper, "--out", out, files[0]])
            if mode == "once":
                check("a slice that fails once is tried again",
                      r.returncode == 0 and "trying again" in r.stderr and parts_of(out)[1] == serial, r.stderr)
            else:
                check("a slice that fails twice stops the run and says which and why",
                      r.returncode == 1 and re.search(r"slice \d of 7 of \S+a\.pcap \(bytes \d+:\d+", r.stderr)
                      and "failed twice" in r.stderr
                      and "disk on fire" in r.stderr, "status %d\n%s" % (r.returncode, r.stderr))

        r = run([RUNNER, "--local", "2", "--nodrix", nodrix, "--out", os.path.join(tmp, "out-json"), files[1]])
        check("a directory that holds parts is refused", r.returncode != 0 and "already holds parts" in r.stderr,
              r.stderr)

    failed = results.count(False)
    print("%d passed, %d failed" % (len(results) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
