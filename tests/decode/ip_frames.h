// Builders for the IP core decoder tests: IPv4/IPv6 packets around TCP,
// UDP and ICMP with correct lengths and checksums, so that a test changes
// only what it is about.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "decode/ip/ip.h"
#include "decode/link/ethernet.h"
#include "support.h"

namespace ipf {

using test::bytes;

inline const bytes source_address = test::hex("c0a8010a");       // 192.168.1.10
inline const bytes destination_address = test::hex("0a0000c8");  // 10.0.0.200

inline bytes ethernet(uint16_t type, const bytes& payload) {
    bytes frame = test::hex("020000000002 020000000001 0000");
    test::put_be16(frame, 12, type);
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
}

// TTL 64, ID 1, no flags; `options` is a multiple of 4 bytes.
inline bytes ipv4(uint8_t protocol, const bytes& payload, const bytes& options = {}) {
    bytes h = test::concat({test::hex("45000000 00010000 40000000"), source_address, destination_address, options});
    h[0] = static_cast<uint8_t>(0x40 | h.size() / 4);
    h[9] = protocol;
    test::put_be16(h, 2, static_cast<uint16_t>(h.size() + payload.size()));
    test::put_be16(h, 10, test::inet_checksum(h));
    h.insert(h.end(), payload.begin(), payload.end());
    return h;
}

// Hop limit 64, 2001:db8::1 -> 2001:db8::2.
inline bytes ipv6(uint8_t next_header, const bytes& payload) {
    bytes h = test::hex("60000000 0000 00 40 20010db8000000000000000000000001 20010db8000000000000000000000002");
    test::put_be16(h, 4, static_cast<uint16_t>(payload.size()));
    h[6] = next_header;
    h.insert(h.end(), payload.begin(), payload.end());
    return h;
}

// Fills the checksum at `field` of a TCP/UDP segment carried in ipv4().
inline bytes with_transport_checksum(bytes segment, uint8_t protocol, size_t field) {
    bytes pseudo = test::concat({source_address, destination_address, test::hex("0000 0000")});
    pseudo[9] = protocol;
    test::put_be16(pseudo, 10, static_cast<uint16_t>(segment.size()));
    test::put_be16(segment, field, test::inet_checksum(test::concat({pseudo, segment})));
    return segment;
}

// Ports 40001 -> 40002, sequence 1000, acknowledgement 2000, window 5840.
inline bytes tcp(uint8_t flags, const bytes& payload, const bytes& options = {}) {
    bytes h = test::concat({test::hex("9c41 9c42 000003e8 000007d0 50 00 16d0 0000 0000"), options, payload});
    h[12] = static_cast<uint8_t>((20 + options.size()) / 4 << 4);
    h[13] = flags;
    return with_transport_checksum(h, 6, 16);
}

inline bytes udp(const bytes& payload, uint16_t source_port = 40001, uint16_t destination_port = 40002) {
    bytes h = test::hex("0000 0000 0000 0000");
    test::put_be16(h, 0, source_port);
    test::put_be16(h, 2, destination_port);
    test::put_be16(h, 4, static_cast<uint16_t>(8 + payload.size()));
    h.insert(h.end(), payload.begin(), payload.end());
    return with_transport_checksum(h, 17, 6);
}

inline bytes icmp(uint8_t type, uint8_t code, const bytes& rest) {
    bytes m = test::concat({test::hex("00 00 0000"), rest});
    m[0] = type;
    m[1] = code;
    test::put_be16(m, 2, test::inet_checksum(m));
    return m;
}

inline std::string hex16(uint16_t v) {
    char text[8];
    snprintf(text, sizeof text, "0x%04x", v);
    return text;
}

inline uint16_t be16_at(const bytes& b, size_t at) { return static_cast<uint16_t>(b.at(at) << 8 | b.at(at + 1)); }

// Decodes a raw IP frame (no link header) the way a raw-IP link does.
inline std::string decode_ip(const bytes& packet, long captured = -1, long wire = -1) {
    return test::decode(decode_ip_version, packet, 0, captured, wire);
}

inline std::string decode_ethernet_frame(const bytes& frame, long captured = -1, long wire = -1) {
    return test::decode(decode_ethernet, frame, 14, captured, wire);
}

// The text between `from` (inclusive) and the next `to` (exclusive), or the
// whole rest when `to` is not found.
inline std::string slice(const std::string& text, const std::string& from, const std::string& to = "") {
    size_t a = text.find(from);
    if (a == std::string::npos) return "<" + from + " not found>";
    size_t b = to.empty() ? std::string::npos : text.find(to, a + from.size());
    return text.substr(a, b == std::string::npos ? std::string::npos : b - a);
}

}  // namespace ipf
