// Frames and captures for the stream, tunnel and QUIC decoder tests.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "../../support.h"

namespace streamf {

using test::bytes;

// Ethernet, IPv4 (header checksum set) and a transport header with the
// payload; checksums of the transport are left zero.
inline bytes ipv4_frame(uint8_t protocol, const bytes& transport) {
    bytes ip = test::hex("4500 0000 0001 0000 40 00 0000 c0000201 c0000202");
    ip[9] = protocol;
    test::put_be16(ip, 2, static_cast<uint16_t>(20 + transport.size()));
    test::put_be16(ip, 10, test::inet_checksum(ip));
    return test::concat({test::hex("020000000001 020000000002 0800"), ip, transport});
}
inline bytes tcp_frame(uint16_t source, uint16_t destination, const bytes& payload) {
    bytes tcp = test::hex("0000 0000 00000001 00000001 5018 ffff 0000 0000");
    test::put_be16(tcp, 0, source);
    test::put_be16(tcp, 2, destination);
    return ipv4_frame(6, test::concat({tcp, payload}));
}
inline bytes udp_frame(uint16_t source, uint16_t destination, const bytes& payload) {
    bytes udp = test::hex("0000 0000 0000 0000");
    test::put_be16(udp, 0, source);
    test::put_be16(udp, 2, destination);
    test::put_be16(udp, 4, static_cast<uint16_t>(8 + payload.size()));
    return ipv4_frame(17, test::concat({udp, payload}));
}
inline bytes text_bytes(const std::string& s) { return bytes(s.begin(), s.end()); }

// The frames of a little-endian classic pcap file.
inline std::vector<bytes> pcap_frames(const std::string& path) {
    bytes file = test::read_file(path);
    std::vector<bytes> frames;
    auto le32 = [&](size_t at) {
        return uint32_t{file[at]} | uint32_t{file[at + 1]} << 8 | uint32_t{file[at + 2]} << 16 |
               uint32_t{file[at + 3]} << 24;
    };
    for (size_t at = 24; at + 16 <= file.size();) {
        uint32_t captured = le32(at + 8);
        if (at + 16 + captured > file.size()) break;
        frames.emplace_back(file.begin() + static_cast<long>(at + 16),
                            file.begin() + static_cast<long>(at + 16 + captured));
        at += 16 + captured;
    }
    return frames;
}

// The decoded text from `banner` to the end of that frame's text.
inline std::string block(const std::string& text, const std::string& banner, size_t nth = 0) {
    size_t at = 0;
    for (size_t i = 0; i <= nth; ++i) {
        at = text.find(banner, i ? at + 1 : 0);
        if (at == std::string::npos) return "";
    }
    size_t end = text.find(" - Received frame ", at);
    if (end != std::string::npos) end = text.rfind("\n\n", end);
    size_t last = text.find("\nRead pcap dump file completed", at);
    if (last != std::string::npos && last < end) end = last - 1;
    return text.substr(at, end == std::string::npos ? std::string::npos : end - at + 1);
}

}  // namespace streamf
