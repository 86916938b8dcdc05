#!/usr/bin/python3
"""Decodes capture files on a Dask cluster, slice by slice.

usage: nodrix_dask.py (--scheduler ADDRESS | --local N) --out DIR
                      [--jobs-per-worker K] [--slices S] [--nodrix PATH]
                      [--output json|summary|text] [--pass OPTION]... PCAP...

Each file is cut into record-aligned slices with `nodrix --index`; the
workers decode the slices with `nodrix --range` and write them as numbered
parts in DIR (part-000000.jsonl, part-000001.jsonl, ...: the files in the
order given, each file's slices in file order). Put together in that order,
the parts are exactly what `nodrix -P FILE` prints for each file in turn.

Every worker must reach the capture files and DIR under the same paths
(shared storage). A slice that fails is tried once more; when it fails
again the run stops with status 1 and names the slice and the reason.
docs/slices.md tells how to run it on several hosts.
"""

import argparse
import os
import subprocess
import sys
import time

OUTPUTS = {"json": (["--json"], ".jsonl"), "summary": (["--summary"], ".txt"), "text": ([], ".txt")}


def run_nodrix(arguments):
    """Runs nodrix; returns its standard output, or raises with its reason."""
    done = subprocess.run(arguments, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if done.returncode != 0:
        reason = done.stderr.decode(errors="replace").strip() or "no message"
        raise RuntimeError("%s ended with status %d: %s" % (" ".join(arguments), done.returncode, reason))
    return done.stdout


def plan_slices(nodrix, path, slices):
    """Record-aligned slices of one file: (start, end, first frame, previous time).

    One --index pass, with a step small enough for a few dozen lines a slice
    (records take at least 64 bytes, as a rule), then every slice gets about
    the same number of those lines."""
    size = os.path.getsize(path)
    every = max(1, size // 64 // (slices * 32))
    starts, end_offset = [], None
    for line in run_nodrix([nodrix, "-P", path, "--index", str(every)]).decode().split("\n"):
        parts = line.split()
        if parts and parts[0] == "frame":
            starts.append((int(parts[2]), int(parts[1]), parts[3]))
        elif parts and parts[0] == "end":
            end_offset = int(parts[2])
    if end_offset is None:
        raise RuntimeError("nodrix --index gave no end line for %s" % path)
    # The last slice reads to the end of the file, so that it also meets a
    # cut last record as the whole-file run does.
    end_offset = max(end_offset, size)
    if not starts:
        return [(0, end_offset, 1, "-")]
    chosen = sorted({len(starts) * i // slices for i in range(slices)})
    plan = []
    for n, i in enumerate(chosen):
        offset, number, previous = starts[i]
        start = 0 if n == 0 else offset
        end = starts[chosen[n + 1]][0] if n + 1 < len(chosen) else end_offset
        plan.append((start, end, number, previous))
    return plan


def decode_slice(nodrix, path, start, end, first_frame, previous, options, part_path):
    """Decodes one slice into its part file (written whole, then renamed)."""
    arguments = [nodrix, "-P", path, "--range", "%d:%d" % (start, end), "--first-frame", str(first_frame)]
    if previous != "-":
        arguments += ["--previous-time", previous]
    arguments += ["--jobs", "1"] + list(options)
    output = run_nodrix(arguments)
    temporary = part_path + ".partial"
    with open(temporary, "wb") as f:
        f.write(output)
    os.replace(temporary, part_path)
    return len(output)


def main():
    parser = argparse.ArgumentParser(description="Decode capture files with nodrix on a Dask cluster.")
    where = parser.add_mutually_exclusive_group(required=True)
    where.add_argument("--scheduler", metavar="ADDRESS", help="address of a running Dask scheduler")
    where.add_argument("--local", metavar="N", type=int, help="start a cluster of N workers on this host")
    parser.add_argument("--out", metavar="DIR", required=True, help="directory for the numbered parts")
    parser.add_argument("--jobs-per-worker", metavar="K", type=int, default=1,
                        help="slices a --local worker decodes at once (default 1)")
    parser.add_argument("--slices", metavar="S", type=int, default=0,
                        help="slices per file (default: four per worker slot)")
    parser.add_argument("--nodrix", metavar="PATH", default="nodrix", help="the nodrix program on the workers")
    parser.add_argument("--output", choices=sorted(OUTPUTS), default="json", help="output mode (default json)")
    parser.add_argument("--pass", dest="passed", metavar="OPTION", action="append", default=[],
                        help="another nodrix option for every slice, e.g. --pass=--verbose")
    parser.add_argument("pcaps", metavar="PCAP", nargs="+")
    args = parser.parse_args()
    if (args.local is not None and args.local < 1) or args.jobs_per_worker < 1 or args.slices < 0:
        parser.error("--local, --jobs-per-worker and --slices take positive numbers")

    try:
        from distributed import Client, LocalCluster, as_completed
    except ImportError:
        sys.exit("nodrix_dask: Dask's distributed package is missing (Debian: apt-get install python3-distributed)")

    if os.path.isdir(args.out) and any(name.startswith("part-") for name in os.listdir(args.out)):
        sys.exit("nodrix_dask: %s already holds parts; remove them or choose another directory" % args.out)
    began = time.monotonic()
    if args.local is not None:
        cluster = LocalCluster(n_workers=args.local, threads_per_worker=args.jobs_per_worker, processes=True,
                               dashboard_address=None)
        client = Client(cluster)
    else:
        cluster = None
        client = Client(args.scheduler)
    slots = sum(client.nthreads().values())
    print("nodrix_dask: %d workers, %d slots, ready after %.2f s" % (len(client.nthreads()), slots,
                                                                     time.monotonic() - began), file=sys.stderr)
    slices = args.slices or 4 * slots
    options, suffix = OUTPUTS[args.output]
    options = options + args.passed
    os.makedirs(args.out, exist_ok=True)
    status = 0
    try:
        paths = [os.path.abspath(p) for p in args.pcaps]
        plans = client.gather([client.submit(plan_slices, args.nodrix, p, slices, pure=False) for p in paths])
        planned = sum(len(plan) for plan in plans)
        print("nodrix_dask: %d slices planned after %.2f s" % (planned, time.monotonic() - began), file=sys.stderr)
        tasks = []
        for path, plan in zip(paths, plans):
            for number, (start, end, first, previous) in enumerate(plan):
                part = os.path.join(os.path.abspath(args.out), "part-%06d%s" % (len(tasks), suffix))
                tasks.append(dict(path=path, slice=number + 1, slices=len(plan), start=start, end=end,
                                  first=first, previous=previous, part=part, tries=0))

        owner = {}

        def submit(index):
            t = tasks[index]
            t["tries"] += 1
            future = client.submit(decode_slice, args.nodrix, t["path"], t["start"], t["end"], t["first"],
                                   t["previous"], options, t["part"], pure=False)
            owner[future.key] = index
            return future

        pending = as_completed([submit(i) for i in range(len(tasks))], with_results=False)
        done = 0
        for future in pending:
            t = tasks[owner[future.key]]
            if future.status == "finished":
                done += 1
                print("nodrix_dask: %d/%d slices done" % (done, len(tasks)), file=sys.stderr)
                continue
            reason = str(future.exception())
            where = "slice %d of %d of %s (bytes %d:%d, first frame %d)" % (
                t["slice"], t["slices"], t["path"], t["start"], t["end"], t["first"])
            if t["tries"] < 2:
                print("nodrix_dask: %s failed, trying again: %s" % (where, reason), file=sys.stderr)
                pending.add(submit(owner[future.key]))
                continue
            print("nodrix_dask: error: %s failed twice: %s" % (where, reason), file=sys.stderr)
            status = 1
            break
    except Exception as error:  # planning failed: no file to slice, no nodrix
        print("nodrix_dask: error: %s" % error, file=sys.stderr)
        status = 1
    finally:
        client.close()
        if cluster is not None:
            cluster.close()
    if status == 0:
        print("nodrix_dask: %d parts in %s after %.2f s" % (len(tasks), args.out, time.monotonic() - began),
              file=sys.stderr)
    return status


if __name__ == "__main__":
    sys.exit(main())
