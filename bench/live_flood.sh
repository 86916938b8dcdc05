#!/bin/sh
# Floods a veth pair in a network namespace of its own with the generated
# mix, as fast as tcpreplay sends (or at PPS frames a second), and reports
# for each capturing command the frames sent, received by the capture,
# shown, and dropped by the kernel, and its CPU time. Needs root (network
# namespaces) and tcpreplay. On a two-core machine the sender takes one core.
#
# usage: bench/live_flood.sh [FRAMES] [LOOPS] [PPS]   (defaults: 20000 frames, 10 loops, top speed)
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
frames=${1:-20000}
loops=${2:-10}
speed=--topspeed
[ -z "${3:-}" ] || speed=--pps=$3
build="$root/build-bench"
work="$build/bench-data"
ns="nxflood$$"

[ "$(id -u)" = 0 ] || { echo "live_flood.sh needs root" >&2; exit 1; }
for tool in tcpreplay tcpdump; do
    command -v "$tool" >/dev/null 2>&1 || apt-get install -y "$tool" >/dev/null
done
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNODRIX_TESTS=OFF >/dev/null
ninja -C "$build" -j2 nodrix >/dev/null
nodrix="$build/nodrix"
mkdir -p "$work"
mix="$work/mix-$frames.pcap"
[ -s "$mix" ] || python3 "$root/bench/gen_mix.py" "$mix" "$frames"

ip netns add "$ns"
trap 'ip netns del "$ns" 2>/dev/null || true' EXIT
ip -n "$ns" link add f0 type veth peer name f1
ip netns exec "$ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1
ip -n "$ns" link set f0 up
ip -n "$ns" link set f1 up

sent=$((frames * loops))
printf '%-34s %9s %9s %9s %9s %11s %6s\n' command sent received shown dropped "sent/s" "CPU s"

# flood LABEL KIND COMMAND...: KIND says how to count what was shown.
flood() {
    label=$1 kind=$2
    shift 2
    ip netns exec "$ns" "$@" >"$work/flood.out" 2>"$work/flood.err" &
    pid=$!
    sleep 0.2
    # The capturing process itself (ip netns exec runs it in its place).
    ticks0=$(awk '{ print $14 + $15 }' "/proc/$pid/stat")
    sleep 1
    ip netns exec "$ns" tcpreplay -q "$speed" --loop="$loops" -i f0 "$mix" >"$work/replay.out" 2>&1
    rate=$(sed -n 's/.*Rated: .*, \([0-9.]*\) pps.*/\1/p' "$work/replay.out" | head -1)
    sleep 2
    cpu=$(awk -v t0="$ticks0" -v hz="$(getconf CLK_TCK)" '{ printf "%.2f", ($14 + $15 - t0) / hz }' "/proc/$pid/stat")
    kill -INT "$pid"
    wait "$pid" || true
    case $kind in
        text)
            shown=$(grep -c 'Received frame' "$work/flood.out" || true)
            set -- $(sed -n 's/^Received \([0-9]*\) packets, \([0-9]*\) dropped by kernel.*/\1 \2/p' "$work/flood.out" "$work/flood.err" | tail -1)
            ;;
        summary)
            shown=$(grep -c '^[0-9][0-9]:' "$work/flood.out" || true)
            set -- $(sed -n 's/^Received \([0-9]*\) packets, \([0-9]*\) dropped by kernel.*/\1 \2/p' "$work/flood.out" "$work/flood.err" | tail -1)
            ;;
        tcpdump)
            set -- "$(sed -n 's/^\([0-9]*\) packets received by filter.*/\1/p' "$work/flood.err")" \
                "$(sed -n 's/^\([0-9]*\) packets dropped by kernel.*/\1/p' "$work/flood.err")"
            shown=$(sed -n 's/^\([0-9]*\) packets captured.*/\1/p' "$work/flood.err")
            ;;
    esac
    printf '%-34s %9s %9s %9s %9s %11s %6s\n' "$label" "$sent" "${1:-?}" "${shown:-?}" "${2:-?}" "${rate:-?}" "$cpu"
}

flood "nodrix -d f1" text "$nodrix" -d f1
flood "nodrix -d f1 --jobs 2" text "$nodrix" -d f1 --jobs 2
flood "nodrix -d f1 --summary" summary "$nodrix" -d f1 --summary
flood "nodrix -d f1 --summary --jobs 2" summary "$nodrix" -d f1 --summary --jobs 2
flood "tcpdump -i f1 -w /dev/null" tcpdump tcpdump -i f1 -w /dev/null
