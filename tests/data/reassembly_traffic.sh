#!/usr/bin/env bash
# Makes the reassembly tests' traffic with real programs inside a network
# namespace of its own, whose loopback has an MTU of 1500 bytes (so that
# TCP cuts streams into segments and IP fragments large datagrams), and
# captures it into $1/c.pcap. Needs root, ip(8), tcpdump, curl, ping.
set -u
DIR=$1
TRAFFIC=$(dirname "$0")/reassembly_traffic.py
NS=nodrix-reasm-$$
ip netns add "$NS" || exit 1
trap 'ip netns del "$NS"' EXIT
X="ip netns exec $NS"
$X ip link set lo up && $X ip link set lo mtu 1500 || exit 1

ready() {  # waits for a server's "ready" line in file $1
  for _ in $(seq 100); do grep -q ready "$1" 2>/dev/null && return 0; sleep 0.1; done
  return 1
}

$X tcpdump -i lo -U -Z root -w "$DIR/c.pcap" >/dev/null 2>"$DIR/td.err" & TD=$!
for _ in $(seq 100); do grep -q "listening on" "$DIR/td.err" && break; sleep 0.1; done
sleep 0.3

# An HTTP/1.0 response of 200 KiB from python's http.server to curl.
mkdir -p "$DIR/www"
head -c 204800 /dev/zero | tr '\0' 'x' >"$DIR/www/big.txt"
$X python3 -m http.server 8080 --bind 127.0.0.1 --directory "$DIR/www" >/dev/null 2>&1 & HS=$!
for _ in $(seq 50); do
  $X ss -ltn | grep -q "127.0.0.1:8080 " && break
  sleep 0.1
done
$X curl -s -o /dev/null http://127.0.0.1:8080/big.txt
kill $HS

# Three pipelined requests; a chunked, a sized and an empty response.
$X python3 "$TRAFFIC" http-pipelined 8081 >"$DIR/p.out" & PS=$!
ready "$DIR/p.out" && $X python3 "$TRAFFIC" http-client 8081
wait $PS

# DNS over TCP: two answers of about 4 KB.
$X python3 "$TRAFFIC" dns-server >"$DIR/d.out" & DS=$!
ready "$DIR/d.out" && $X python3 "$TRAFFIC" dns-client
wait $DS

# Fragmented ICMP echo, and a fragmented UDP datagram over IPv6.
$X ping -c 2 -i 0.2 -s 4000 127.0.0.1 >/dev/null
$X python3 "$TRAFFIC" udp6-send 9999 4000

sleep 1
kill $TD
wait $TD
test -s "$DIR/c.pcap"
