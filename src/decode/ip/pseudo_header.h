// The pseudo-header that TCP, UDP and ICMPv6 checksums cover: taken from
// the innermost IP header decoded so far in the frame.
#pragma once

#include <cstddef>
#include <cstdint>

struct ip_pseudo_header {
    int version;  // 4 or 6; 0 before any IP header of the frame
    uint8_t source[16];
    uint8_t destination[16];  // behind a routing header: the final one
    const uint8_t* payload;   // first byte of that header's payload
    bool fragment;            // part of a datagram: its checksum covers the whole
    bool known_destination;   // false behind a routing header we cannot read
};
struct decode_context;

void set_ipv4_pseudo_header(decode_context& cx, const uint8_t* ip, unsigned header_length, uint16_t flags_offset);
// Walks the extension headers behind the IPv6 header at ip for a routing
// header's final destination and a fragment header. Returns the jumbo
// payload length of a hop-by-hop option, 0 when there is none.
uint32_t set_ipv6_pseudo_header(decode_context& cx, const uint8_t* ip);

// Under --calc-checksums, behind the checksum value: judges the TCP (6),
// UDP (17) or ICMPv6 (58) message at segment and ends the line with "\n".
// Prints no verdict when it cannot be judged (a fragment, a message cut by
// the snap length, a UDP sender that computed none) and says so when the
// sender left the checksum to its network card.
void print_transport_checksum_verdict(decode_context& cx, const uint8_t* segment, uint8_t protocol, size_t field_offset,
                                      uint16_t transmitted, uint32_t& bad_counter);
