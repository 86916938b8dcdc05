#!/bin/sh
# Times nodrix against tcpdump on one generated capture file and reports the
# median, spread, ratio to tcpdump and peak resident memory of each command.
#
# usage: bench/run.sh [FRAMES] [RUNS]     (defaults: 200000 frames, 3 runs)
# A second, 20000-frame file is measured for memory only, to show that the
# peak does not grow with the length of the capture.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
frames=${1:-200000}
runs=${2:-3}
build="$root/build-bench"
work="$build/bench-data"
gen="$root/bench/gen_mix.py"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNODRIX_TESTS=OFF >/dev/null
ninja -C "$build" -j2 nodrix >/dev/null
nodrix="$build/nodrix"

if ! command -v tcpdump >/dev/null 2>&1; then
    if [ "$(id -u)" = 0 ]; then
        apt-get install -y tcpdump >/dev/null
    else
        sudo apt-get install -y tcpdump >/dev/null
    fi
fi
tcpdump=$(command -v tcpdump)
[ -x /usr/bin/time ] || { echo "GNU time (/usr/bin/time) is needed" >&2; exit 1; }

mkdir -p "$work"
big="$work/mix-$frames.pcap"
small="$work/mix-20000.pcap"
[ -s "$big" ] || python3 "$gen" "$big" "$frames"
[ -s "$small" ] || python3 "$gen" "$small" 20000

# One timed run: prints "seconds peak-KiB cpu-seconds".
measure() {
    /usr/bin/time -f '%e %M %U %S' -o "$work/time.out" "$@" >/dev/null 2>&1 || true
    awk '{ printf "%s %s %.2f\n", $1, $2, $3 + $4 }' "$work/time.out"
}

# Runs a command $runs times on $1; prints "median spread peak-KiB cpu".
series() {
    file=$1
    shift
    : >"$work/series.out"
    i=0
    while [ $i -lt "$runs" ]; do
        measure "$@" >>"$work/series.out"
        i=$((i + 1))
    done
    sort -n "$work/series.out" | awk '
        { t[NR] = $1; c[NR] = $3; if ($2 > m) m = $2 }
        END {
            med = (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
            cpu = (NR % 2) ? c[(NR + 1) / 2] : (c[NR / 2] + c[NR / 2 + 1]) / 2
            printf "%.3f %.3f %d %.2f\n", med, t[NR] - t[1], m, cpu
        }'
}

run_case() {
    file=$1
    shift
    case $1 in
        T) shift; series "$file" "$tcpdump" -nn -vvv -e -r "$file" ;;
        t) shift; series "$file" "$tcpdump" -nn -r "$file" ;;
        *) shift; series "$file" "$nodrix" -P "$file" "$@" ;;
    esac
}

# Bytes a command writes to standard output, for the output rate.
output_bytes() {
    file=$1
    shift
    case $1 in
        T) shift; "$tcpdump" -nn -vvv -e -r "$file" 2>/dev/null | wc -c ;;
        t) shift; "$tcpdump" -nn -r "$file" 2>/dev/null | wc -c ;;
        *) shift; "$nodrix" -P "$file" "$@" 2>/dev/null | wc -c ;;
    esac
}

echo "nodrix vs tcpdump, $frames frames, $runs runs each, output to /dev/null"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "ratio: to T (tcpdump -nn -vvv -e), for S to t (tcpdump -nn)"
printf '%-3s %-36s %9s %9s %7s %7s %9s %9s %10s\n' "" command median spread ratio "CPU s" "RSS KiB" "RSS 20k" "out MB/s"

t_median=
plain_median=
# A, S and J once per number of decoding threads (--jobs 1, 2, 4).
for c in T t A A2 A4 B C D S S2 S4 J J2 J4; do
    case $c in
        T) label="tcpdump -nn -vvv -e -r"; args="T" ;;
        t) label="tcpdump -nn -r"; args="t" ;;
        A) label="nodrix -P --jobs 1"; args="N --jobs 1" ;;
        A2) label="nodrix -P --jobs 2"; args="N --jobs 2" ;;
        A4) label="nodrix -P --jobs 4"; args="N --jobs 4" ;;
        B) label="nodrix -P --expand-all --jobs 1"; args="N --expand-all --jobs 1" ;;
        C) label="nodrix -P --statistic --quiet --jobs 1"; args="N --statistic --quiet --jobs 1" ;;
        D) label="nodrix -P --expand-all --verbose --jobs 1"; args="N --expand-all --verbose --jobs 1" ;;
        S) label="nodrix -P --summary --jobs 1"; args="N --summary --jobs 1" ;;
        S2) label="nodrix -P --summary --jobs 2"; args="N --summary --jobs 2" ;;
        S4) label="nodrix -P --summary --jobs 4"; args="N --summary --jobs 4" ;;
        J) label="nodrix -P --json --jobs 1"; args="N --json --jobs 1" ;;
        J2) label="nodrix -P --json --jobs 2"; args="N --json --jobs 2" ;;
        J4) label="nodrix -P --json --jobs 4"; args="N --json --jobs 4" ;;
    esac
    # shellcheck disable=SC2086
    set -- $(run_case "$big" $args)
    median=$1 spread=$2 rss=$3 cpu=$4
    # shellcheck disable=SC2086
    set -- $(runs=1 run_case "$small" $args)
    rss_small=$3
    # shellcheck disable=SC2086
    bytes=$(output_bytes "$big" $args)
    [ -n "$t_median" ] || t_median=$median
    [ "$c" = t ] && plain_median=$median
    base=$t_median
    case $c in S*) base=$plain_median ;; esac
    ratio=$(awk -v a="$median" -v t="$base" 'BEGIN { printf "%.3f", (t > 0) ? a / t : 0 }')
    rate=$(awk -v b="$bytes" -v s="$median" 'BEGIN { printf "%.1f", (s > 0) ? b / s / 1e6 : 0 }')
    printf '%-3s %-36s %8ss %8ss %7s %7s %9s %9s %10s\n' "$c" "$label" "$median" "$spread" "$ratio" "$cpu" "$rss" "$rss_small" \
        "$rate"
done
