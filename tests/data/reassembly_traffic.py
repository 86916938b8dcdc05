#!/usr/bin/env python3
"""Servers and clients that make traffic for the reassembly tests.

usage: reassembly_traffic.py ROLE [ARGS]

  http-pipelined PORT     server: answers every request of one connection
                          (a chunked response, a Content-Length one, a 204)
  http-client PORT        client: three requests in one write, reads all
  dns-server              server on 127.0.0.1:53 (TCP): 250 A records each
  dns-client              client: two queries on one connection
  udp6-send PORT SIZE     one UDP datagram of SIZE bytes to [::1]:PORT

The servers write "ready" to standard output once they listen and serve one
connection. Standard library only.
"""

import socket
import struct
import sys
import time


def send_in_pieces(conn, data, cuts):
    """Writes data cut at the given offsets, one segment each."""
    conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    start = 0
    for cut in list(cuts) + [len(data)]:
        conn.sendall(data[start:cut])
        start = cut
        time.sleep(0.02)


def listen(family, address):
    s = socket.socket(family, socket.SOCK_STREAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(address)
    s.listen(1)
    print("ready", flush=True)
    return s


def http_pipelined(port):
    server = listen(socket.AF_INET, ("127.0.0.1", port))
    conn, _ = server.accept()
    data = b""
    while data.count(b"\r\n\r\n") < 3:
        more = conn.recv(65536)
        if not more:
            break
        data += more
    chunk = b"c" * 3000
    body = b"".join(b"%x\r\n%s\r\n" % (len(chunk), chunk) for _ in range(4)) + b"0\r\n\r\n"
    chunked = b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nTransfer-Encoding: chunked\r\n\r\n" + body
    sized = b"HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: 10000\r\n\r\n"
    sized += b"b" * 10000
    empty = b"HTTP/1.1 204 No Content\r\nServer: test\r\n\r\n"
    # Heads cut in the middle, chunk size lines cut, a head behind a body.
    stream = chunked + sized + empty
    send_in_pieces(conn, stream, [30, 1400, 3077, 6000, len(chunked) + 20, len(chunked) + 5000,
                                  len(chunked) + len(sized) + 10])
    time.sleep(0.3)
    conn.close()


def http_client(port):
    c = socket.create_connection(("127.0.0.1", port))
    requests = b"".join(b"GET /%s HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: pipeline\r\n\r\n" % name
                        for name in (b"chunked", b"sized", b"empty"))
    send_in_pieces(c, requests, [20, 90])
    c.settimeout(5)
    try:
        while c.recv(65536):
            pass
    except socket.timeout:
        pass
    c.close()


def dns_answer(query):
    ident = query[:2]
    end = 12
    while query[end] != 0:
        end += query[end] + 1
    question = query[12:end + 5]
    answers = b"".join(struct.pack("!HHHIH4s", 0xC00C, 1, 1, 60, 4, bytes([10, 1, i // 256, i % 256]))
                       for i in range(250))
    return ident + struct.pack("!HHHHH", 0x8180, 1, 250, 0, 0) + question + answers


def dns_server():
    server = listen(socket.AF_INET, ("127.0.0.1", 53))
    conn, _ = server.accept()
    buffered = b""
    for _ in range(2):
        while len(buffered) < 2 or len(buffered) < 2 + struct.unpack("!H", buffered[:2])[0]:
            more = conn.recv(4096)
            if not more:
                return
            buffered += more
        length = struct.unpack("!H", buffered[:2])[0]
        query, buffered = buffered[2:2 + length], buffered[2 + length:]
        answer = dns_answer(query)
        send_in_pieces(conn, struct.pack("!H", len(answer)) + answer, [1, 1448, 2896])
    time.sleep(0.3)
    conn.close()


def dns_query(ident, name):
    labels = b"".join(bytes([len(part)]) + part for part in name.split(b".")) + b"\x00"
    return struct.pack("!HHHHHH", ident, 0x0100, 1, 0, 0, 0) + labels + struct.pack("!HH", 1, 1)


def dns_client():
    c = socket.create_connection(("127.0.0.1", 53))
    for ident, name in ((0x1111, b"big.example"), (0x2222, b"bigger.example")):
        query = dns_query(ident, name)
        c.sendall(struct.pack("!H", len(query)) + query)
        length = None
        got = b""
        while length is None or len(got) < 2 + length:
            more = c.recv(65536)
            if not more:
                break
            got += more
            if length is None and len(got) >= 2:
                length = struct.unpack("!H", got[:2])[0]
    c.close()


def udp6_send(port, size):
    s = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM)
    s.sendto(bytes(i % 251 for i in range(size)), ("::1", port))


def main():
    role, args = sys.argv[1], sys.argv[2:]
    if role == "http-pipelined":
        http_pipelined(int(args[0]))
    elif role == "http-client":
        http_client(int(args[0]))
    elif role == "dns-server":
        dns_server()
    elif role == "dns-client":
        dns_client()
    elif role == "udp6-send":
        udp6_send(int(args[0]), int(args[1]))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
