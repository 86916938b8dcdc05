"""Writes the capture the --stats and --follow tests read:
python3 stream_frames.py OUT.pcap

TCP stream 0: an HTTP exchange whose response comes out of order and once
again (a retransmission), with bytes that are not printable in its body.
UDP: a DNS query and its answer. TCP stream 1: an SMTP-like dialogue.
TCP stream 2: IPv6, caught after its handshake. Standard library only."""
import socket
import struct
import sys

MAC_C = bytes.fromhex("020000000001")
MAC_S = bytes.fromhex("020000000002")
START = 1767225600  # 2026-01-01T00:00:00Z


def checksum(data):
    if len(data) % 2:
        data += b"\0"
    s = sum(struct.unpack(">%dH" % (len(data) // 2), data))
    while s >> 16:
        s = (s & 0xFFFF) + (s >> 16)
    return ~s & 0xFFFF


def ip4(src, dst, proto, payload):
    s, d = socket.inet_aton(src), socket.inet_aton(dst)
    header = struct.pack(">BBHHHBBH4s4s", 0x45, 0, 20 + len(payload), 1, 0x4000, 64, proto, 0, s, d)
    header = header[:10] + struct.pack(">H", checksum(header)) + header[12:]
    return header, s + d + struct.pack(">BBH", 0, proto, len(payload))


def ip6(src, dst, proto, payload):
    s, d = socket.inet_pton(socket.AF_INET6, src), socket.inet_pton(socket.AF_INET6, dst)
    header = struct.pack(">IHBB16s16s", 0x60000000, len(payload), proto, 64, s, d)
    return header, s + d + struct.pack(">I3xB", len(payload), proto)


def transport(src, dst, proto, segment_of):
    """The IP packet around a segment whose checksum covers the pseudo-header."""
    six = ":" in src
    make = ip6 if six else ip4
    segment = segment_of(0)
    header, pseudo = make(src, dst, proto, segment)
    segment = segment_of(checksum(pseudo + segment))
    return (0x86DD if six else 0x0800), header + segment


def tcp(src, sport, dst, dport, seq, ack, flags, data=b""):
    def segment(sum_):
        return struct.pack(">HHIIBBHHH", sport, dport, seq, ack, 5 << 4, flags, 65535, sum_, 0) + data
    return transport(src, dst, 6, segment)


def udp(src, sport, dst, dport, data):
    def segment(sum_):
        return struct.pack(">HHHH", sport, dport, 8 + len(data), sum_) + data
    return transport(src, dst, 17, segment)


FIN, SYN, PSH, ACK = 0x01, 0x02, 0x08, 0x10

frames = []


def add(at, packet, client_sends):
    ethertype, body = packet
    dst, src = (MAC_S, MAC_C) if client_sends else (MAC_C, MAC_S)
    frames.append((at, dst + src + struct.pack(">H", ethertype) + body))


# TCP stream 0: HTTP, 192.0.2.10:40001 -> 198.51.100.80:80
C, S = "192.0.2.10", "198.51.100.80"
request = b"GET /index.html HTTP/1.1\r\nHost: www.example.com\r\n\r\n"
head = b"HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\n"
body = b"ok\x00\x01\xff\tend"
t = 0.0
add(t + 0.00, tcp(C, 40001, S, 80, 1000, 0, SYN), True)
add(t + 0.01, tcp(S, 80, C, 40001, 5000, 1001, SYN | ACK), False)
add(t + 0.02, tcp(C, 40001, S, 80, 1001, 5001, ACK), True)
add(t + 0.03, tcp(C, 40001, S, 80, 1001, 5001, PSH | ACK, request), True)
# The body overtakes the head, and the head comes twice.
add(t + 0.05, tcp(S, 80, C, 40001, 5001 + len(head), 1001 + len(request), PSH | ACK, body), False)
add(t + 0.06, tcp(S, 80, C, 40001, 5001, 1001 + len(request), PSH | ACK, head), False)
add(t + 0.30, tcp(S, 80, C, 40001, 5001, 1001 + len(request), PSH | ACK, head), False)
add(t + 0.31, tcp(C, 40001, S, 80, 1001 + len(request), 5001 + len(head) + len(body), FIN | ACK), True)
add(t + 0.32, tcp(S, 80, C, 40001, 5001 + len(head) + len(body), 1002 + len(request), FIN | ACK), False)

# UDP: a DNS query and its answer.
D = "203.0.113.53"
query = struct.pack(">HHHHHH", 0x1234, 0x0100, 1, 0, 0, 0) + b"\x03www\x07example\x03com\x00" + struct.pack(">HH", 1, 1)
answer = struct.pack(">HHHHHH", 0x1234, 0x8180, 1, 1, 0, 0) + query[12:] + \
    struct.pack(">HHHIH4s", 0xC00C, 1, 1, 300, 4, socket.inet_aton(S))
add(1.20, udp(C, 40002, D, 53, query), True)
add(1.21, udp(D, 53, C, 40002, answer), False)

# TCP stream 1: an SMTP-like dialogue, 192.0.2.10:40003 -> 198.51.100.25:25
M = "198.51.100.25"
lines = [
    (False, b"220 mail.example.com ESMTP\r\n"),
    (True, b"EHLO client.example\r\n"),
    (False, b"250-mail.example.com\r\n250 OK\r\n"),
    (True, b"MAIL FROM:<a@example.com>\r\n"),
    (False, b"250 OK\r\n"),
    (True, b"QUIT\r\n"),
    (False, b"221 Bye\r\n"),
]
cseq, sseq = 7000, 9000
t = 2.50
add(t, tcp(C, 40003, M, 25, cseq, 0, SYN), True)
add(t + 0.01, tcp(M, 25, C, 40003, sseq, cseq + 1, SYN | ACK), False)
cseq, sseq = cseq + 1, sseq + 1
add(t + 0.02, tcp(C, 40003, M, 25, cseq, sseq, ACK), True)
for i, (client, data) in enumerate(lines):
    at = t + 0.1 * (i + 1)
    if client:
        add(at, tcp(C, 40003, M, 25, cseq, sseq, PSH | ACK, data), True)
        cseq += len(data)
    else:
        add(at, tcp(M, 25, C, 40003, sseq, cseq, PSH | ACK, data), False)
        sseq += len(data)
add(t + 0.9, tcp(C, 40003, M, 25, cseq, sseq, FIN | ACK), True)
add(t + 0.91, tcp(M, 25, C, 40003, sseq, cseq + 1, FIN | ACK), False)

# TCP stream 2: IPv6, caught after its handshake.
A6, B6 = "2001:db8::1", "2001:db8::2"
add(4.00, tcp(A6, 40004, B6, 8080, 300, 700, PSH | ACK, b"ping\n"), True)
add(4.01, tcp(B6, 8080, A6, 40004, 700, 305, PSH | ACK, b"pong\n"), False)
add(4.02, tcp(A6, 40004, B6, 8080, 305, 705, ACK), True)

out = struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1)
for at, data in frames:
    seconds = int(at)
    micros = int(round((at - seconds) * 1e6))
    out += struct.pack("<IIII", START + seconds, micros, len(data), len(data)) + data
with open(sys.argv[1], "wb") as f:
    f.write(out)
