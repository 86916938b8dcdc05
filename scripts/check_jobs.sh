#!/usr/bin/env bash
# Runs a nodrix binary (normally a ThreadSanitizer build) over a generated
# mix with 1, 2, 3 and 8 decoding threads in every output mode, and fails
# when any output, message or status differs from the one-thread run, or
# when the sanitizer reports anything.
#
# usage: scripts/check_jobs.sh NODRIX [FRAMES]
set -euo pipefail
nodrix=$(realpath "$1")
frames=${2:-4000}
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
python3 "$root/bench/gen_mix.py" mix.pcap "$frames" >/dev/null
head -c $(( $(stat -c %s mix.pcap) * 2 / 3 )) mix.pcap > cut.pcap
export TSAN_OPTIONS="halt_on_error=1 exitcode=66 ${TSAN_OPTIONS:-}"
failed=0
for file in mix.pcap cut.pcap; do
  for mode in "" "--expand-all --verbose --calc-checksums" "--summary" "--json --statistic" "--print-tcp-stream"; do
    # shellcheck disable=SC2086
    "$nodrix" -P "$file" $mode --jobs 1 > one.out 2> one.err && one=0 || one=$?
    for jobs in 2 3 8; do
      # shellcheck disable=SC2086
      "$nodrix" -P "$file" $mode --jobs "$jobs" > many.out 2> many.err && many=0 || many=$?
      if [ "$many" = 66 ] || grep -q ThreadSanitizer many.err; then
        echo "FAIL $file $mode --jobs $jobs: ThreadSanitizer report"; sed -n 1,40p many.err; failed=1
      elif [ "$one" != "$many" ] || ! cmp -s one.out many.out || ! cmp -s one.err many.err; then
        echo "FAIL $file $mode --jobs $jobs: differs from one thread (status $one vs $many)"; failed=1
      fi
    done
  done
done
# Where the reassembly memory bound drops state, runs of 2 to 16 threads
# split the flows alike and must agree with each other.
python3 "$root/bench/gen_hostile.py" holes 3000 holes.pcap
for jobs in 2 3 8; do
  { "$nodrix" -P holes.pcap --reassembly-memory 1 --jobs "$jobs"
    "$nodrix" -P holes.pcap --reassembly-memory 1 --statistic --quiet --jobs "$jobs" | grep -v ' time:'; } \
    > "bound$jobs.out" 2>&1 || true
  if grep -q ThreadSanitizer "bound$jobs.out"; then
    echo "FAIL holes.pcap --reassembly-memory 1 --jobs $jobs: ThreadSanitizer report"; failed=1
  elif [ "$jobs" != 2 ] && ! cmp -s bound2.out "bound$jobs.out"; then
    echo "FAIL holes.pcap --reassembly-memory 1: --jobs $jobs differs from --jobs 2"; failed=1
  fi
done
[ $failed = 0 ] && echo "jobs check: every run matched one thread"
exit $failed
