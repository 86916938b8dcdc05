// IPv4.
#pragma once

#include <cstddef>
#include <cstdint>

#include "capture/frame.h"

int decode_ipv4(const frame_lengths* lengths, const uint8_t* frame, unsigned offset);

// The IPv4 header of the current frame's TCP segment, kept for the stream
// collection (set only under --print-tcp-stream).
extern const uint8_t* tcp_stream_ip_header;

// True while zelk_pseudo_header holds the addresses and length of the IPv4
// packet being decoded; an IPv6 header in between makes it stale.
extern bool ipv4_pseudo_header_ready;

// Judges a TCP or UDP checksum behind IPv4 (the segment runs to the end of
// the IP payload) and ends the checksum line with "\n". Prints no verdict
// when it cannot be judged.
// Dotted-quad text of the 4 bytes at a (checked), in a static buffer.
const char* ipv4_text(const uint8_t* a);

void print_transport_checksum_verdict(const uint8_t* segment, uint8_t protocol, size_t field_offset,
                                      uint16_t transmitted, uint32_t& bad_counter);
