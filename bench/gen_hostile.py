#!/usr/bin/env python3
"""Writes a pcap file that makes the reassembly tables hold as much as they can.

usage: bench/gen_hostile.py KIND N [OUT.pcap]     (standard output without OUT)

KIND:
  holes   N TCP connections to port 443, each a SYN and then one full
          segment behind a hole of one segment: every direction waits.
  frags   N IPv4 datagrams of which only the first fragment comes
          (1,480 bytes, more fragments set): every set waits.
  long    one TCP connection whose first segment never comes, then N MiB
          of segments behind it. N = 1024 is a gigabyte: pipe it into
          `nodrix -P -` rather than keep it.

Frames are 10 microseconds apart, so nothing times out; the same arguments
always give the same bytes. Standard library only.
"""

import struct
import sys

START_S = 1765000000
MSS = 1448


def pcap_header():
    return struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1)


def record(index, frame):
    us = index * 10
    return struct.pack("<IIII", START_S + us // 1000000, us % 1000000, len(frame), len(frame)) + frame


def ipv4(protocol, source, destination, payload, ident=0, flags_offset=0):
    header = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(payload), ident & 0xFFFF, flags_offset, 64,
                         protocol, 0, source, destination)
    words = struct.unpack("!10H", header)
    total = sum(words)
    total = (total & 0xFFFF) + (total >> 16)
    total = (total & 0xFFFF) + (total >> 16)
    header = header[:10] + struct.pack("!H", ~total & 0xFFFF) + header[12:]
    return header + payload


ETHERNET = bytes.fromhex("020000000002 020000000001 0800")


def tcp(source_port, destination_port, seq, flags, payload):
    # The checksum is left zero: it is not judged without --calc-checksums.
    return struct.pack("!HHIIBBHHH", source_port, destination_port, seq & 0xFFFFFFFF, 0, 0x50, flags, 65535, 0,
                       0) + payload


def client(n):
    return bytes([10, (n >> 16) & 0xFF, (n >> 8) & 0xFF, n & 0xFF])


SERVER = bytes([192, 0, 2, 1])
# Application data records, so that the bytes start messages we frame.
DATA = (b"\x17\x03\x03" + struct.pack("!H", MSS - 5) + bytes(MSS - 5))


def holes(n, out):
    index = 0
    for i in range(n):
        source, port = client(i), 1024 + i % 60000
        isn = (i * 2654435761) & 0xFFFFFFFF
        out.write(record(index, ETHERNET + ipv4(6, source, SERVER, tcp(port, 443, isn, 0x02, b""))))
        out.write(record(index + 1,
                         ETHERNET + ipv4(6, source, SERVER, tcp(port, 443, isn + 1 + MSS, 0x18, DATA))))
        index += 2


def frags(n, out):
    payload = struct.pack("!HHHH", 5000, 53, 3008, 0) + bytes(1472)
    for i in range(n):
        packet = ipv4(17, client(i), SERVER, payload, ident=i, flags_offset=0x2000)
        out.write(record(i, ETHERNET + packet))


def long_flow(mib, out):
    source, isn = client(1), 0xFFF00000  # the sequence numbers wrap on the way
    out.write(record(0, ETHERNET + ipv4(6, source, SERVER, tcp(40000, 443, isn, 0x02, b""))))
    count = (mib << 20) // MSS
    head = ETHERNET
    for i in range(1, count + 1):
        out.write(record(i, head + ipv4(6, source, SERVER, tcp(40000, 443, isn + 1 + i * MSS, 0x18, DATA))))


def main():
    if len(sys.argv) < 3 or sys.argv[1] not in ("holes", "frags", "long"):
        sys.exit(__doc__)
    kind, n = sys.argv[1], int(sys.argv[2])
    out = open(sys.argv[3], "wb") if len(sys.argv) > 3 else sys.stdout.buffer
    out.write(pcap_header())
    {"holes": holes, "frags": frags, "long": long_flow}[kind](n, out)
    out.flush()


if __name__ == "__main__":
    try:
        main()
    except BrokenPipeError:
        sys.exit(1)
