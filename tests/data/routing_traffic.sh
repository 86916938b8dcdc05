#!/usr/bin/env bash
# Makes routing and link-level traffic with real programs between three
# network namespaces and captures it with `tcpdump -i any` (Linux cooked
# capture v2) on the middle one into $1/routing.pcap:
#
#   a (10.0.12.1, fd00:12::1) --veth-- b (router) --veth-- c (10.0.23.3, fd00:23::3)
#
# a and b run FRR's zebra, ospfd, ospf6d, bgpd (eBGP, 4-byte ASN, IPv4 and
# IPv6 prefixes, MED and communities) and bfdd; a runs keepalived (VRRP v2
# and v3); b sends IGMPv3 queries and a joins groups; a traceroutes c
# across b (UDP and ICMP, IPv4 and IPv6). At the end bgpd on b stops, which
# sends a NOTIFICATION. Needs root, ip(8), tcpdump, frr, keepalived,
# traceroute and python3; exits non-zero when something could not start.
set -u
DIR=$1
FRR=/usr/lib/frr
P=nodrix-rt$$
A=$P-a B=$P-b C=$P-c
cleanup() {
  for pid in $(cat "$DIR"/*.pid 2>/dev/null); do kill "$pid" 2>/dev/null; done
  for _ in $(seq 30); do
    alive=0
    for pid in $(cat "$DIR"/*.pid 2>/dev/null); do kill -0 "$pid" 2>/dev/null && alive=1; done
    [ $alive = 0 ] && break
    sleep 0.1
  done
  ip netns del "$A" 2>/dev/null
  ip netns del "$B" 2>/dev/null
  ip netns del "$C" 2>/dev/null
}
trap cleanup EXIT
# FRR's daemons run as user frr: they must reach their files.
chmod 755 "$DIR"
for ns in $A $B $C; do ip netns add "$ns" || exit 1; done
nsx() { local ns=$1; shift; ip netns exec "$ns" "$@"; }
ip link add a0 netns "$A" type veth peer name b0 netns "$B" || exit 1
ip link add c0 netns "$C" type veth peer name b1 netns "$B" || exit 1
for ns in $A $B $C; do
  nsx "$ns" sysctl -qw net.ipv4.icmp_ratelimit=0 net.ipv6.icmp.ratelimit=0 net.ipv6.conf.all.forwarding=1 \
    net.ipv4.ip_forward=1
  nsx "$ns" ip link set lo up
done
nsx "$A" ip addr add 10.0.12.1/24 dev a0
nsx "$A" ip addr add fd00:12::1/64 dev a0 nodad
nsx "$B" ip addr add 10.0.12.2/24 dev b0
nsx "$B" ip addr add fd00:12::2/64 dev b0 nodad
nsx "$B" ip addr add 10.0.23.2/24 dev b1
nsx "$B" ip addr add fd00:23::2/64 dev b1 nodad
nsx "$C" ip addr add 10.0.23.3/24 dev c0
nsx "$C" ip addr add fd00:23::3/64 dev c0 nodad
nsx "$A" ip addr add 192.168.1.1/24 dev lo
nsx "$B" ip addr add 192.168.2.1/24 dev lo
for l in "$A a0" "$B b0" "$B b1" "$C c0"; do set -- $l; nsx "$1" ip link set "$2" up; done
nsx "$A" ip route add 10.0.23.0/24 via 10.0.12.2
nsx "$A" ip -6 route add fd00:23::/64 via fd00:12::2
nsx "$C" ip route add default via 10.0.23.2
nsx "$C" ip -6 route add default via fd00:23::2

ip netns exec "$B" tcpdump -i any -U --immediate-mode -Z root -w "$DIR/routing.pcap" >/dev/null 2>"$DIR/td.err" & echo $! >"$DIR/tcpdump.pid"
for _ in $(seq 100); do grep -q "listening on" "$DIR/td.err" && break; sleep 0.1; done

# FRR: one set of daemons per namespace, each with its own sockets.
frr_conf() {  # name router-id own-AS peer peer-AS prefix prefix6 interface
  cat <<EOF
hostname $1
log file $DIR/$1.log
interface $8
 ip ospf hello-interval 1
 ip ospf dead-interval 3
 ip ospf area 0
 ipv6 ospf6 hello-interval 1
 ipv6 ospf6 dead-interval 3
 ipv6 ospf6 area 0
!
router ospf
 ospf router-id $2
 log-adjacency-changes
 redistribute connected
!
router ospf6
 ospf6 router-id $2
 log-adjacency-changes
!
router bgp $3
 bgp router-id $2
 bgp log-neighbor-changes
 no bgp ebgp-requires-policy
 no bgp network import-check
 neighbor $4 remote-as $5
 neighbor $4 timers 1 3
 neighbor $4 timers connect 1
 address-family ipv4 unicast
  network $6
  neighbor $4 route-map OUT out
 exit-address-family
 address-family ipv6 unicast
  network $7
  neighbor $4 activate
  neighbor $4 route-map OUT out
 exit-address-family
!
route-map OUT permit 10
 set metric 50
 set community 65001:100 no-export
!
bfd
 peer $4
  transmit-interval 300
  receive-interval 300
!
EOF
}
start_frr() {  # namespace name
  local ns=$1 n=$2 d=$DIR/$2
  mkdir -p "$d" && chmod 777 "$d"
  local common=(--vty_socket "$d" -z "$d/zserv.api" -P 0 --log "file:$d/daemons.log")
  ip netns exec "$ns" $FRR/zebra "${common[@]}" -f "$DIR/$n.conf" -i "$d/zebra.pid" >/dev/null 2>&1 & echo $! >"$DIR/$n-zebra.pid"
  for _ in $(seq 50); do [ -S "$d/zserv.api" ] && break; sleep 0.1; done
  for daemon in ospfd ospf6d bgpd; do
    ip netns exec "$ns" $FRR/$daemon "${common[@]}" -f "$DIR/$n.conf" -i "$d/$daemon.pid" >/dev/null 2>&1 &
    echo $! >"$DIR/$n-$daemon.pid"
  done
  ip netns exec "$ns" $FRR/bfdd "${common[@]}" --bfdctl "$d/bfdd.sock" -f "$DIR/$n.conf" -i "$d/bfdd.pid" >/dev/null 2>&1 &
  echo $! >"$DIR/$n-bfdd.pid"
}
if [ -x $FRR/zebra ]; then
  frr_conf a 1.1.1.1 65001 10.0.12.2 4200000002 192.168.1.0/24 fd00:99:1::/64 a0 >"$DIR/a.conf"
  frr_conf b 2.2.2.2 4200000002 10.0.12.1 65001 192.168.2.0/24 fd00:99:2::/64 b0 >"$DIR/b.conf"
  start_frr "$A" a
  start_frr "$B" b
fi

# keepalived on a: VRRP v2 and v3 over IPv4, v3 over IPv6.
if command -v keepalived >/dev/null; then
  cat >"$DIR/keepalived.conf" <<EOF
global_defs {
  router_id a
}
vrrp_instance v2 {
  interface a0
  state MASTER
  virtual_router_id 51
  priority 150
  advert_int 1
  version 2
  virtual_ipaddress {
    10.0.12.100/24
  }
}
vrrp_instance v3 {
  interface a0
  state MASTER
  virtual_router_id 52
  priority 120
  advert_int 1
  version 3
  virtual_ipaddress {
    10.0.12.101/24
    10.0.12.102/24
  }
}
vrrp_instance v6 {
  interface a0
  state MASTER
  virtual_router_id 53
  priority 100
  advert_int 1
  virtual_ipaddress {
    fd00:12::100/64
  }
}
EOF
  ip netns exec "$A" keepalived -n -l -D --vrrp -f "$DIR/keepalived.conf" -p "$DIR/ka-main.run" -r "$DIR/ka-vrrp.run" \
    >"$DIR/keepalived.log" 2>&1 & echo $! >"$DIR/keepalived.pid"
fi

# IGMPv3: a joins a group for one source and another for any source; b
# asks (a general and a group-and-source-specific query); a leaves.
nsx "$A" sysctl -qw net.ipv4.conf.a0.force_igmp_version=3
nsx "$A" python3 - <<'EOF' &
import socket, struct, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
IP_ADD_SOURCE_MEMBERSHIP = 39
ssm = socket.inet_aton('232.1.1.1') + socket.inet_aton('10.0.12.1') + socket.inet_aton('10.0.12.9')
s.setsockopt(socket.IPPROTO_IP, IP_ADD_SOURCE_MEMBERSHIP, ssm)
s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
             socket.inet_aton('239.1.2.3') + socket.inet_aton('10.0.12.1'))
time.sleep(4)
s.setsockopt(socket.IPPROTO_IP, socket.IP_DROP_MEMBERSHIP,
             socket.inet_aton('239.1.2.3') + socket.inet_aton('10.0.12.1'))
time.sleep(0.5)
EOF
IGMP=$!
sleep 1
nsx "$B" python3 - <<'EOF'
import socket, struct, time
def inet_sum(b):
    s = sum(struct.unpack('!%dH' % (len(b) // 2), b))
    while s >> 16: s = (s >> 16) + (s & 0xffff)
    return ~s & 0xffff
def query(group, sources):
    body = struct.pack('!BBH4sBBH', 0x11, 10, 0, socket.inet_aton(group), 2, 125, len(sources))
    body += b''.join(socket.inet_aton(x) for x in sources)
    return body[:2] + struct.pack('!H', inet_sum(body)) + body[4:]
s = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_IGMP)
s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton('10.0.12.2'))
s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 1)
s.setsockopt(socket.IPPROTO_IP, socket.IP_OPTIONS, b'\x94\x04\x00\x00')
s.sendto(query('0.0.0.0', []), ('224.0.0.1', 0))
time.sleep(1.2)
s.sendto(query('232.1.1.1', ['10.0.12.9']), ('232.1.1.1', 0))
EOF

# traceroute from a to c across b, UDP and ICMP, IPv4 and IPv6.
if command -v traceroute >/dev/null; then
  for mode in "" "-I"; do
    nsx "$A" traceroute -n -q 1 -w 1 -m 4 $mode 10.0.23.3 >/dev/null 2>&1
    nsx "$A" traceroute -6 -n -q 1 -w 1 -m 4 $mode fd00:23::3 >/dev/null 2>&1
  done
fi

# Let the routing protocols come up (adjacencies, updates), then stop
# bgpd on b: it tells a with a NOTIFICATION.
for _ in $(seq 100); do
  grep -q "Full" "$DIR/a/daemons.log" 2>/dev/null && grep -q "ADJCHANGE.*Up" "$DIR/a/daemons.log" 2>/dev/null &&
    [ "$(grep -c "Full" "$DIR/a/daemons.log")" -ge 2 ] && break
  sleep 0.1
done
sleep 4
wait $IGMP
for _ in $(seq 50); do grep -q "ADJCHANGE.*Up" "$DIR/b/daemons.log" 2>/dev/null && break; sleep 0.1; done
[ -S "$DIR/b/bgpd.vty" ] && ip netns exec "$B" vtysh --vty_socket "$DIR/b" -d bgpd -c "configure terminal" \
  -c "router bgp 4200000002" -c "neighbor 10.0.12.1 shutdown" >"$DIR/vtysh.out" 2>&1
for _ in $(seq 30); do grep -q "ADJCHANGE.*Down" "$DIR/a/daemons.log" 2>/dev/null && break; sleep 0.1; done
sleep 1
kill "$(cat "$DIR/tcpdump.pid")"
wait "$(cat "$DIR/tcpdump.pid")" 2>/dev/null
rm -f "$DIR/tcpdump.pid"
[ -s "$DIR/routing.pcap" ]
