#!/usr/bin/env python3
"""Writes a repeatable pcap file of N Ethernet frames of everyday traffic.

usage: bench/gen_mix.py OUT.pcap [N]      (N defaults to 200000)

The same N always gives the same file. Shares by frame count:

  42%  HTTP requests over TCP/IPv4 with a time stamp option
  15%  bare TCP acknowledgements (IPv4)
  14%  DNS queries and answers over UDP/IPv4
   8%  HTTP over TCP/IPv6
   5%  ICMP echo requests
   4%  ARP requests
   5%  HTTP over TCP/IPv4 in an 802.1Q VLAN
   3%  DNS over UDP/IPv4 in a PPPoE session
   2%  ICMP echo in IPv4 carried by GRE in IPv4 (a tunnel)
   2%  TLS-looking records to port 443

Checksums are right; frames are 100 microseconds apart from 2025-12-06.
Standard library only, so the tests and the benchmark need nothing else.
"""

import random
import struct
import sys

START_US = 1765000000 * 1000000
STEP_US = 100


def ones_complement(data):
    if len(data) % 2:
        data += b"\0"
    total = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def with_checksum(data, at, value):
    return data[:at] + struct.pack("!H", value) + data[at + 2:]


def ipv4(src, dst, proto, payload, ident, ttl=64):
    header = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(payload), ident, 0x4000, ttl, proto, 0, src, dst)
    return with_checksum(header, 10, ones_complement(header)) + payload


def ipv6(src, dst, next_header, payload):
    return struct.pack("!IHBB", 0x60000000, len(payload), next_header, 64) + src + dst + payload


def transport(src, dst, proto, segment, at):
    # The pseudo-header of IPv4 (4-byte addresses) or IPv6 (16-byte ones).
    if len(src) == 4:
        pseudo = src + dst + struct.pack("!BBH", 0, proto, len(segment))
    else:
        pseudo = src + dst + struct.pack("!IxxxB", len(segment), proto)
    value = ones_complement(pseudo + segment)
    if proto == 17 and value == 0:
        value = 0xFFFF
    return with_checksum(segment, at, value)


def tcp(src, dst, sport, dport, seq, ack, flags, payload, options=b""):
    length = 20 + len(options)
    segment = struct.pack("!HHIIBBHHH", sport, dport, seq, ack, (length // 4) << 4, flags, 64240, 0, 0)
    return transport(src, dst, 6, segment + options + payload, 16)


def udp(src, dst, sport, dport, payload):
    return transport(src, dst, 17, struct.pack("!HHHH", sport, dport, 8 + len(payload), 0) + payload, 6)


def dns_name(name):
    return b"".join(bytes([len(part)]) + part.encode() for part in name.split(".")) + b"\0"


def dns(rnd, ident):
    name = rnd.choice(["example.org", "www.example.com", "mail.example.net", "api.example.test"])
    qtype = rnd.choice([1, 28, 15])
    question = dns_name(name) + struct.pack("!HH", qtype, 1)
    if rnd.random() < 0.5:
        return struct.pack("!HHHHHH", ident, 0x0100, 1, 0, 0, 0) + question
    if qtype == 1:
        rdata = bytes([192, 0, 2, rnd.randrange(1, 255)])
    elif qtype == 28:
        rdata = bytes.fromhex("20010db8") + bytes(11) + bytes([rnd.randrange(1, 255)])
    else:
        rdata = struct.pack("!H", 10) + dns_name("mx." + name)
    answer = b"\xc0\x0c" + struct.pack("!HHIH", qtype, 1, 300, len(rdata)) + rdata
    return struct.pack("!HHHHHH", ident, 0x8180, 1, 1, 0, 0) + question + answer


def http_request(rnd):
    path = rnd.choice(["/", "/index.html", "/img/logo.png", "/api/v1/items?id=%d" % rnd.randrange(1000)])
    text = "GET %s HTTP/1.1\r\nHost: example.test\r\nUser-Agent: mix/1.0\r\nAccept: */*\r\n" % path
    # Some requests carry a long cookie, so that the sizes spread.
    if rnd.random() < 0.3:
        text += "Cookie: session=" + "ab" * rnd.randrange(10, 600) + "\r\n"
    return (text + "\r\n").encode()


def tls_record(rnd):
    body = bytes(rnd.getrandbits(8) for _ in range(rnd.randrange(16, 300)))
    return struct.pack("!BHH", 23, 0x0303, len(body)) + body


def ethernet(dst, src, ethertype, payload):
    frame = dst + src + struct.pack("!H", ethertype) + payload
    return frame + bytes(max(0, 60 - len(frame)))


def frames(n):
    rnd = random.Random(20261208)
    macs = [bytes([2, 0, 0, 0, 1, i]) for i in range(1, 11)]
    hosts = [bytes([10, 1, i // 200, 1 + i % 200]) for i in range(80)]
    hosts6 = [bytes.fromhex("20010db8000100000000000000000000")[:15] + bytes([i]) for i in range(1, 20)]
    ping = b"0123456789abcdefghijklmnopqrstuv"
    for i in range(n):
        dst_mac, src_mac = rnd.sample(macs, 2)
        a, b = rnd.sample(hosts, 2)
        sport = rnd.randrange(1024, 65536)
        seq, ack = rnd.getrandbits(32), rnd.getrandbits(32)
        stamp = b"\x01\x01\x08\x0a" + struct.pack("!II", rnd.getrandbits(32), rnd.getrandbits(32))
        ident = i & 0xFFFF
        r = rnd.random()
        if r < 0.42:
            dport = rnd.choice([80, 8080])
            segment = tcp(a, b, sport, dport, seq, ack, 0x18, http_request(rnd), stamp)
            yield ethernet(dst_mac, src_mac, 0x0800, ipv4(a, b, 6, segment, ident))
        elif r < 0.57:
            segment = tcp(a, b, sport, rnd.choice([80, 443, 22]), seq, ack, 0x10, b"", stamp)
            yield ethernet(dst_mac, src_mac, 0x0800, ipv4(a, b, 6, segment, ident))
        elif r < 0.71:
            message = dns(rnd, ident)
            if message[2] & 0x80:  # an answer comes back from the server
                segment, src, dst = udp(b, a, 53, sport, message), b, a
            else:
                segment, src, dst = udp(a, b, sport, 53, message), a, b
            yield ethernet(dst_mac, src_mac, 0x0800, ipv4(src, dst, 17, segment, ident))
        elif r < 0.79:
            a6, b6 = rnd.sample(hosts6, 2)
            segment = tcp(a6, b6, sport, 80, seq, ack, 0x18, http_request(rnd), stamp)
            yield ethernet(dst_mac, src_mac, 0x86DD, ipv6(a6, b6, 6, segment))
        elif r < 0.84:
            echo = struct.pack("!BBHHH", 8, 0, 0, 0x4D58, ident) + ping
            yield ethernet(dst_mac, src_mac, 0x0800, ipv4(a, b, 1, with_checksum(echo, 2, ones_complement(echo)), ident))
        elif r < 0.88:
            request = struct.pack("!HHBBH", 1, 0x0800, 6, 4, 1) + src_mac + a + bytes(6) + b
            yield ethernet(b"\xff" * 6, src_mac, 0x0806, request)
        elif r < 0.93:
            segment = tcp(a, b, sport, 80, seq, ack, 0x18, http_request(rnd))
            tag = struct.pack("!HH", rnd.choice([10, 20, 100]), 0x0800)
            yield ethernet(dst_mac, src_mac, 0x8100, tag + ipv4(a, b, 6, segment, ident))
        elif r < 0.96:
            inner = ipv4(a, b, 17, udp(a, b, sport, 53, dns(rnd, ident)), ident)
            ppp = b"\x00\x21" + inner
            session = struct.pack("!BBHH", 0x11, 0, 0x0101 + i % 4, len(ppp)) + ppp
            yield ethernet(dst_mac, src_mac, 0x8864, session)
        elif r < 0.98:
            echo = struct.pack("!BBHHH", 8, 0, 0, 0x4D58, ident) + ping
            inner = ipv4(a, b, 1, with_checksum(echo, 2, ones_complement(echo)), ident)
            gre = struct.pack("!HH", 0, 0x0800) + inner
            outer = ipv4(bytes([192, 0, 2, 1]), bytes([192, 0, 2, 2]), 47, gre, ident)
            yield ethernet(dst_mac, src_mac, 0x0800, outer)
        else:
            segment = tcp(a, b, sport, 443, seq, ack, 0x18, tls_record(rnd), stamp)
            yield ethernet(dst_mac, src_mac, 0x0800, ipv4(a, b, 6, segment, ident))


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__.strip().splitlines()[2])
    n = int(sys.argv[2]) if len(sys.argv) == 3 else 200000
    with open(sys.argv[1], "wb") as out:
        out.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1))
        for i, frame in enumerate(frames(n)):
            t = START_US + i * STEP_US
            out.write(struct.pack("<IIII", t // 1000000, t % 1000000, len(frame), len(frame)) + frame)


if __name__ == "__main__":
    main()
