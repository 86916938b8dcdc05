"""Writes the capture the --where tests filter: python3 where_frames.py OUT.pcap

A mix of the protocols people filter on (ARP, ICMP, TCP, TLS, HTTP, DNS,
IPv6, VLAN, a GRE tunnel, NTP, a cut frame), numbered in the comments as
the frames are numbered in the file. Standard library only."""
import struct
import sys

MAC_A = bytes.fromhex("00000c123456")
MAC_B = bytes.fromhex("02005e100001")
BROADCAST = b"\xff" * 6


def checksum(data):
    if len(data) % 2:
        data += b"\0"
    s = sum(struct.unpack(">%dH" % (len(data) // 2), data))
    while s >> 16:
        s = (s & 0xFFFF) + (s >> 16)
    return ~s & 0xFFFF


def addr4(text):
    return bytes(int(x) for x in text.split("."))


def addr6(text):
    import socket
    return socket.inet_pton(socket.AF_INET6, text)


def ethernet(ethertype, payload, src=MAC_A, dst=MAC_B):
    return dst + src + struct.pack(">H", ethertype) + payload


def vlan(tag, ethertype, payload, src=MAC_A, dst=MAC_B):
    return dst + src + struct.pack(">HHH", 0x8100, tag, ethertype) + payload


def ipv4(proto, payload, src, dst, ttl=64, ident=1):
    header = struct.pack(">BBHHHBBH4s4s", 0x45, 0, 20 + len(payload), ident, 0x4000, ttl, proto, 0,
                         addr4(src), addr4(dst))
    return header[:10] + struct.pack(">H", checksum(header)) + header[12:] + payload


def ipv6(next_header, payload, src, dst, hop_limit=64):
    return struct.pack(">IHBB", 0x60000000, len(payload), next_header, hop_limit) + addr6(src) + addr6(dst) + payload


def pseudo4(src, dst, proto, length):
    return addr4(src) + addr4(dst) + struct.pack(">BBH", 0, proto, length)


def pseudo6(src, dst, proto, length):
    return addr6(src) + addr6(dst) + struct.pack(">IxxxB", length, proto)


def tcp(sport, dport, flags, payload=b"", seq=1000, ack=0, pseudo=None):
    header = struct.pack(">HHIIBBHHH", sport, dport, seq, ack, 5 << 4, flags, 64240, 0, 0)
    segment = header + payload
    if pseudo:
        segment = segment[:16] + struct.pack(">H", checksum(pseudo(len(segment)) + segment)) + segment[18:]
    return segment


def udp(sport, dport, payload, pseudo=None):
    datagram = struct.pack(">HHHH", sport, dport, 8 + len(payload), 0) + payload
    if pseudo:
        datagram = datagram[:6] + struct.pack(">H", checksum(pseudo(len(datagram)) + datagram) or 0xFFFF) + datagram[8:]
    return datagram


def tcp4(src, dst, sport, dport, flags, payload=b"", ttl=64, seq=1000, ack=0):
    segment = tcp(sport, dport, flags, payload, seq, ack, lambda n: pseudo4(src, dst, 6, n))
    return ipv4(6, segment, src, dst, ttl)


def udp4(src, dst, sport, dport, payload, ttl=64):
    return ipv4(17, udp(sport, dport, payload, lambda n: pseudo4(src, dst, 17, n)), src, dst, ttl)


def icmp4(src, dst, icmp_type, code, rest, ttl=64):
    body = struct.pack(">BBH", icmp_type, code, 0) + rest
    body = body[:2] + struct.pack(">H", checksum(body)) + body[4:]
    return ipv4(1, body, src, dst, ttl)


def dns_name(name):
    return b"".join(bytes([len(p)]) + p.encode() for p in name.split(".")) + b"\0"


def dns_query(ident, name, qtype):
    return struct.pack(">HHHHHH", ident, 0x0100, 1, 0, 0, 0) + dns_name(name) + struct.pack(">HH", qtype, 1)


def dns_answer(ident, name, address):
    question = dns_name(name) + struct.pack(">HH", 1, 1)
    answer = struct.pack(">HHHIH", 0xC00C, 1, 1, 300, 4) + addr4(address)
    return struct.pack(">HHHHHH", ident, 0x8180, 1, 1, 0, 0) + question + answer


def client_hello(server_name):
    name = server_name.encode()
    sni = struct.pack(">HBH", len(name) + 3, 0, len(name)) + name
    extensions = struct.pack(">HH", 0, len(sni)) + sni
    body = (struct.pack(">H", 0x0303) + bytes(range(32)) + b"\0" + struct.pack(">HH", 2, 0x1301) + b"\x01\x00" +
            struct.pack(">H", len(extensions)) + extensions)
    handshake = b"\x01" + struct.pack(">I", len(body))[1:] + body
    return struct.pack(">BHH", 22, 0x0301, len(handshake)) + handshake


def gre(inner):
    return b"\0\0\x08\x00" + inner


frames = [
    # 1: ARP request
    ethernet(0x0806, struct.pack(">HHBBH", 1, 0x0800, 6, 4, 1) + MAC_A + addr4("192.0.2.1") + bytes(6) +
             addr4("192.0.2.2"), dst=BROADCAST),
    # 2, 3: ICMP echo request and reply
    ethernet(0x0800, icmp4("192.0.2.1", "192.0.2.2", 8, 0, struct.pack(">HH", 7, 1) + b"ping")),
    ethernet(0x0800, icmp4("192.0.2.2", "192.0.2.1", 0, 0, struct.pack(">HH", 7, 1) + b"ping", ttl=30), MAC_B, MAC_A),
    # 4, 5: a TCP handshake to 443
    ethernet(0x0800, tcp4("192.0.2.1", "198.51.100.7", 40000, 443, 0x02)),
    ethernet(0x0800, tcp4("198.51.100.7", "192.0.2.1", 443, 40000, 0x12, ttl=50, seq=5000, ack=1001), MAC_B, MAC_A),
    # 6, 7: TLS client hellos, on 443 and on 8443
    ethernet(0x0800, tcp4("192.0.2.1", "198.51.100.7", 40000, 443, 0x18, client_hello("api.example.com"), seq=1001,
                          ack=5001)),
    ethernet(0x0800, tcp4("192.0.2.1", "198.51.100.9", 40001, 8443, 0x18, client_hello("www.other.net"))),
    # 8-11: HTTP GET, HEAD, POST and a response
    ethernet(0x0800, tcp4("192.0.2.1", "198.51.100.80", 40002, 80, 0x18,
                          b"GET /index.html HTTP/1.1\r\nHost: example.com\r\n\r\n")),
    ethernet(0x0800, tcp4("192.0.2.1", "198.51.100.80", 40003, 80, 0x18, b"HEAD / HTTP/1.1\r\nHost: example.com\r\n\r\n")),
    ethernet(0x0800, tcp4("192.0.2.3", "198.51.100.81", 40004, 8080, 0x18,
                          b"POST /api HTTP/1.1\r\nHost: api.example.com\r\nContent-Length: 0\r\n\r\n")),
    ethernet(0x0800, tcp4("198.51.100.80", "192.0.2.1", 80, 40002, 0x18,
                          b"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", ttl=50), MAC_B, MAC_A),
    # 12, 13: DNS query and answer
    ethernet(0x0800, udp4("192.0.2.1", "192.0.2.53", 40005, 53, dns_query(0x1234, "www.example.com", 1))),
    ethernet(0x0800, udp4("192.0.2.53", "192.0.2.1", 53, 40005, dns_answer(0x1234, "www.example.com", "93.184.216.34")),
             MAC_B, MAC_A),
    # 14: a DNS query over IPv6
    ethernet(0x86DD, ipv6(17, udp(40006, 53, dns_query(0x4321, "api.test.org", 28),
                                  lambda n: pseudo6("2001:db8::1", "2001:db8::53", 17, n)), "2001:db8::1",
                          "2001:db8::53")),
    # 15: TCP over IPv6 to 22
    ethernet(0x86DD, ipv6(6, tcp(40007, 22, 0x02, pseudo=lambda n: pseudo6("2001:db8::1", "2001:db8::2", 6, n)),
                          "2001:db8::1", "2001:db8::2", hop_limit=255)),
    # 16: UDP in VLAN 100
    vlan(100, 0x0800, udp4("10.1.2.3", "10.1.2.4", 5000, 6000, b"hello")),
    # 17: TCP to 443 inside a GRE tunnel
    ethernet(0x0800, ipv4(47, gre(tcp4("10.9.9.1", "10.9.9.2", 40008, 443, 0x02)), "203.0.113.1", "203.0.113.2")),
    # 18: a traceroute probe with TTL 1
    ethernet(0x0800, udp4("192.0.2.1", "198.51.100.200", 40009, 33434, bytes(12), ttl=1)),
    # 19: ICMP port unreachable
    ethernet(0x0800, icmp4("198.51.100.200", "192.0.2.1", 3, 3, bytes(4) + bytes(28), ttl=60), MAC_B, MAC_A),
    # 20: a reset to port 25
    ethernet(0x0800, tcp4("192.0.2.1", "198.51.100.25", 40010, 25, 0x14, ttl=128)),
    # 21: an NTP client request
    ethernet(0x0800, udp4("192.0.2.1", "198.51.100.123", 123, 123, b"\x23" + bytes(47))),
    # 22: TCP to 0x1bb (443) from port 0xffff
    ethernet(0x0800, tcp4("192.0.2.4", "198.51.100.7", 65535, 443, 0x10)),
]

# 24: TCP to 443 inside VXLAN (UDP 4789), behind an inner Ethernet header
vxlan = b"\x08\0\0\0\0\x00\x2a\0" + ethernet(0x0800, tcp4("10.8.8.1", "10.8.8.2", 40012, 443, 0x02))
tunnelled = ethernet(0x0800, udp4("203.0.113.5", "203.0.113.6", 40013, 4789, vxlan))

# 23: a frame cut by the snap length: 34 of 60 bytes kept
cut = ethernet(0x0800, tcp4("192.0.2.1", "198.51.100.7", 40011, 443, 0x02))
cut += bytes(max(0, 60 - len(cut)))

with open(sys.argv[1], "wb") as out:
    out.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1))
    for n, frame in enumerate(frames):
        frame += bytes(max(0, 60 - len(frame)))
        out.write(struct.pack("<IIII", 1796637600 + n, 0, len(frame), len(frame)) + frame)
    out.write(struct.pack("<IIII", 1796637600 + len(frames), 0, 34, len(cut)) + cut[:34])
    out.write(struct.pack("<IIII", 1796637601 + len(frames), 0, len(tunnelled), len(tunnelled)) + tunnelled)
