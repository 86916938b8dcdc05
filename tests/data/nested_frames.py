"""Writes a pcap of one Ethernet frame that nests one kind of tunnel or
header chain DEPTH times: python3 nested_frames.py KIND DEPTH OUT.pcap"""
import struct
import sys

ETH = bytes.fromhex("020000000002 020000000001")


def ipv4(proto, payload):
    total = min(20 + len(payload), 65535)
    return struct.pack(">BBHHHBB2s4s4s", 0x45, 0, total, 1, 0, 64, proto, b"\0\0",
                       bytes([10, 0, 0, 1]), bytes([10, 0, 0, 2])) + payload


def ipv6(next_header, payload):
    return struct.pack(">IHBB", 0x60000000, min(len(payload), 65535), next_header, 64) + \
        bytes(15) + b"\1" + bytes(15) + b"\2" + payload


def udp(port, payload):
    return struct.pack(">HHHH", 40000, port, min(8 + len(payload), 65535), 0) + payload


def nest(kind, depth):
    """The frame behind the outer Ethernet header, as (EtherType, bytes)."""
    inner = bytes(8)
    if kind == "gre":
        for _ in range(depth):
            inner = ipv4(47, b"\0\0\x08\x00" + inner)
        return 0x0800, inner
    if kind == "ipip":
        for _ in range(depth):
            inner = ipv4(4, inner)
        return 0x0800, inner
    if kind == "ah":
        return 0x0800, ipv4(51, (bytes([51, 1, 0, 0]) + bytes(8)) * depth + inner)
    if kind == "ipv6_ext":
        # Destination options headers of 8 bytes, each naming the next.
        return 0x86dd, ipv6(60, (bytes([60, 0]) + bytes(6)) * depth + inner)
    ether = ETH + b"\x08\x00" + inner
    for _ in range(depth):
        if kind == "vxlan":
            ether = ETH + b"\x08\x00" + ipv4(17, udp(4789, bytes.fromhex("0800000000000100") + ether))
        elif kind == "geneve":
            ether = ETH + b"\x08\x00" + ipv4(17, udp(6081, bytes.fromhex("0000655800000100") + ether))
        elif kind == "etherip":
            ether = ETH + b"\x08\x00" + ipv4(97, b"\x30\x00" + ether)
        elif kind == "mpls":
            ether = ETH + b"\x88\x47" + bytes.fromhex("00001140") + bytes(4) + ether
        else:
            raise SystemExit("unknown kind " + kind)
    return int.from_bytes(ether[12:14], "big"), ether[14:]


def main():
    kind, depth, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    ethertype, body = nest(kind, depth)
    frame = ETH + struct.pack(">H", ethertype) + body
    with open(out, "wb") as f:
        f.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 262144, 1))
        f.write(struct.pack("<IIII", 1, 0, len(frame), len(frame)))
        f.write(frame)


main()
