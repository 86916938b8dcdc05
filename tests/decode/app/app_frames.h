// Frames for the application decoder tests: a payload behind Ethernet,
// IPv4 or IPv6 and UDP (or TCP), decoded the way a capture source does.
#pragma once

#include <string>

#include "decode/ip_frames.h"

namespace appf {

using test::bytes;

inline bytes udp4(const bytes& payload, uint16_t source_port, uint16_t destination_port) {
    return ipf::ethernet(0x0800, ipf::ipv4(17, ipf::udp(payload, source_port, destination_port)));
}

inline bytes udp6(const bytes& payload, uint16_t source_port, uint16_t destination_port) {
    bytes d = ipf::udp(payload, source_port, destination_port);
    return ipf::ethernet(0x86dd, ipf::ipv6(17, d));
}

// A PSH/ACK segment from port 40001 to `port`.
inline bytes tcp4(const bytes& payload, uint16_t port) {
    bytes segment = ipf::tcp(0x18, payload);
    test::put_be16(segment, 2, port);
    segment[16] = segment[17] = 0;
    return ipf::ethernet(0x0800, ipf::ipv4(6, ipf::with_transport_checksum(segment, 6, 16)));
}

// The text from the application banner on.
inline std::string decode_from(const bytes& frame, const std::string& banner, long captured = -1, long wire = -1) {
    return ipf::slice(ipf::decode_ethernet_frame(frame, captured, wire), banner);
}

inline std::string json(const bytes& frame) { return test::decode_record(decode_ethernet, frame, 14); }

}  // namespace appf
