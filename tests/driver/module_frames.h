// TCP and UDP frames on chosen ports for the module and server tests.
#pragma once

#include "decode/ip_frames.h"
#include "support.h"

namespace frames {

using test::bytes;

// A data-carrying (PSH, ACK) TCP segment in IPv4 in Ethernet.
inline bytes tcp(uint16_t source_port, uint16_t destination_port, const std::string& payload) {
    bytes h = test::hex("0000 0000 000003e8 000007d0 50 18 16d0 0000 0000");
    test::put_be16(h, 0, source_port);
    test::put_be16(h, 2, destination_port);
    h.insert(h.end(), payload.begin(), payload.end());
    return ipf::ethernet(0x0800, ipf::ipv4(6, ipf::with_transport_checksum(h, 6, 16)));
}

inline bytes udp(uint16_t source_port, uint16_t destination_port, const std::string& payload) {
    bytes data(payload.begin(), payload.end());
    return ipf::ethernet(0x0800, ipf::ipv4(17, ipf::udp(data, source_port, destination_port)));
}

inline size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

}  // namespace frames
