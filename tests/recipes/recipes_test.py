#!/usr/bin/env python3
"""Runs a loading recipe of scripts/recipes/ as the README shows it and
checks its answers against the JSON Lines read here; "jq" runs the jq
examples of the README, taken from it.

    recipes_test.py NODRIX sqlite|postgresql|duckdb|jq [FRAMES]

The capture is a bench/gen_mix.py mix (2,000 frames unless FRAMES). Exits
77 (skipped) when the database program is missing; scripts/deps.sh --test
installs them. Set NODRIX_NPM_DIR to choose where DuckDB's node package is
installed (default: the repository's .cache/npm, which git ignores).
"""

import collections
import glob
import json
import os
import pwd
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
RECIPES = os.path.join(ROOT, "scripts", "recipes")


def skip(reason):
    print("skipped: " + reason)
    sys.exit(77)


def expected_answers(jsonl):
    frames = tcp_443 = 0
    names = collections.Counter()
    with open(jsonl, encoding="utf-8") as f:
        for line in f:
            value = json.loads(line)
            if "frame" not in value:
                continue
            frames += 1
            tcp_443 += value.get("tcp", {}).get("dst_port") == 443
            for question in value.get("dns", {}).get("questions", []):
                names[question["name"]] += 1
    top = sorted(names.items(), key=lambda item: (-item[1], item[0]))[:3]
    return ["frames|%d" % frames, "tcp_443|%d" % tcp_443] + ["dns_name|%s|%d" % item for item in top]


def timed(command, **options):
    start = time.monotonic()
    result = subprocess.run(command, capture_output=True, text=True, **options)
    if result.returncode != 0:
        sys.exit("%s failed (%d):\n%s%s" % (" ".join(command), result.returncode, result.stdout, result.stderr))
    return result.stdout, time.monotonic() - start


def sqlite(tmp, jsonl):
    if not shutil.which("sqlite3"):
        skip("sqlite3 is not installed")
    db = os.path.join(tmp, "frames.db")
    _, load = timed([os.path.join(RECIPES, "sqlite.sh"), jsonl, db])
    with open(os.path.join(RECIPES, "sqlite-queries.sql")) as queries:
        out, query = timed(["sqlite3", db], stdin=queries)
    return out, load, query


def postgresql(tmp, jsonl):
    found = sorted(glob.glob("/usr/lib/postgresql/*/bin/initdb"))
    if not found or not shutil.which("psql"):
        skip("PostgreSQL (initdb, psql) is not installed")
    bin_dir = os.path.dirname(found[-1])
    # The server refuses to run as root: a throw-away cluster of the
    # postgres (or nobody) user then.
    as_user = []
    if os.geteuid() == 0:
        user = "postgres" if any(p.pw_name == "postgres" for p in pwd.getpwall()) else "nobody"
        entry = pwd.getpwnam(user)
        for folder, _, files in os.walk(tmp):
            for name in [folder] + [os.path.join(folder, f) for f in files]:
                os.chown(name, entry.pw_uid, entry.pw_gid)
        as_user = ["runuser", "-u", user, "--"]
    data = os.path.join(tmp, "data")
    timed(as_user + [os.path.join(bin_dir, "initdb"), "-D", data, "-A", "trust", "-U", "nodrix", "--locale=C",
                     "-E", "UTF8"])
    pg_ctl = as_user + [os.path.join(bin_dir, "pg_ctl"), "-D", data]
    timed(pg_ctl + ["-o", "-k %s -c listen_addresses= -c fsync=off" % tmp, "-l", os.path.join(tmp, "server.log"),
                    "-w", "start"])
    try:
        connection = ["-h", tmp, "-U", "nodrix", "-d", "postgres"]
        _, load = timed(as_user + [os.path.join(RECIPES, "postgresql.sh"), jsonl] + connection)
        out, query = timed(as_user + ["psql", "-X", "-v", "ON_ERROR_STOP=1", "-A", "-t", "-F", "|"] + connection +
                           ["-f", os.path.join(RECIPES, "postgresql-queries.sql")])
    finally:
        subprocess.run(pg_ctl + ["-m", "immediate", "stop"], capture_output=True)
    return out, load, query


def duckdb(tmp, jsonl):
    if not shutil.which("node") or not shutil.which("npm"):
        skip("node and npm are not installed")
    env = dict(os.environ)
    env.setdefault("NODRIX_NPM_DIR", os.path.join(ROOT, ".cache", "npm"))
    npm_dir = env["NODRIX_NPM_DIR"]
    if not os.path.isdir(os.path.join(npm_dir, "node_modules", "@duckdb", "node-api")):
        # What duckdb.sh would do on first use; a machine without the
        # registry skips rather than fails.
        os.makedirs(npm_dir, exist_ok=True)
        r = subprocess.run(["npm", "install", "--silent", "--no-audit", "--no-fund", "--prefix", npm_dir,
                            "@duckdb/node-api"], capture_output=True, text=True)
        if r.returncode != 0:
            skip("npm could not install @duckdb/node-api: " + (r.stderr.strip().splitlines() or [""])[-1])
    parquet = os.path.join(tmp, "frames.parquet")
    out, seconds = timed([os.path.join(RECIPES, "duckdb.sh"), jsonl, parquet], env=env)
    if not os.path.getsize(parquet):
        sys.exit("no Parquet file written")
    print("parquet: %d bytes" % os.path.getsize(parquet))
    return out, seconds, 0.0


def readme_jq_commands():
    """The README's `nodrix -P capture.pcap --json ... | jq ...` lines, with
    their continuation lines."""
    with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
        text = f.read().replace("\\\n", " ")
    return [line.strip() for line in text.splitlines()
            if line.startswith("nodrix -P capture.pcap --json") and "| jq" in line]


def jq(nodrix, pcap, jsonl):
    if not shutil.which("jq"):
        skip("jq is not installed")
    lines = [json.loads(line) for line in open(jsonl, encoding="utf-8")]
    names = {q["name"] for v in lines for q in v.get("dns", {}).get("questions", [])}
    talks = collections.Counter()
    for v in lines:
        ip = v.get("ipv4") or v.get("ipv6")
        if "tcp" in v:
            talks[(ip["src"], ip["dst"], v["tcp"]["dst_port"])] += 1
    checked = subprocess.run([nodrix, "-P", pcap, "--json", "--calc-checksums"], capture_output=True, text=True).stdout
    bad = sum(1 for line in checked.splitlines() if '_ok":false' in line)
    commands = readme_jq_commands()
    if len(commands) != 3:
        sys.exit("expected the README's three jq examples, found %d" % len(commands))
    for command in commands:
        command = command.replace("nodrix ", "'%s' " % nodrix, 1).replace("capture.pcap", "'%s'" % pcap)
        out, _ = timed(["sh", "-c", command])
        got = out.splitlines()
        if "dns.questions" in command:
            ok = set(got) == names
        elif "select(.tcp)" in command:
            ok = bool(got) and int(got[0].split()[0]) == max(talks.values())
        else:
            ok = len(got) == bad
        print("%s: %d lines" % (command[:70], len(got)))
        if not ok:
            sys.exit("unexpected answer of " + command + ":\n" + out[:2000])


def main():
    nodrix, database = sys.argv[1], sys.argv[2]
    frames = sys.argv[3] if len(sys.argv) > 3 else "2000"
    recipe = {"sqlite": sqlite, "postgresql": postgresql, "duckdb": duckdb, "jq": None}[database]
    with tempfile.TemporaryDirectory() as tmp:
        os.chmod(tmp, 0o755)
        pcap, jsonl = os.path.join(tmp, "mix.pcap"), os.path.join(tmp, "frames.jsonl")
        subprocess.run([sys.executable, os.path.join(ROOT, "bench", "gen_mix.py"), pcap, frames], check=True)
        with open(jsonl, "wb") as f:
            subprocess.run([nodrix, "-P", pcap, "--json"], stdout=f, check=True)
        if recipe is None:
            jq(nodrix, pcap, jsonl)
            return 0
        expected = expected_answers(jsonl)
        out, load, query = recipe(tmp, jsonl)
        got = [line for line in out.splitlines() if line.strip()]
        print("load %.2f s, queries %.2f s" % (load, query))
        print("\n".join(got))
        if got != expected:
            sys.exit("answers differ; expected:\n" + "\n".join(expected))
    return 0


if __name__ == "__main__":
    sys.exit(main())
