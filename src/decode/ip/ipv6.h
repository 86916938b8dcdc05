// IPv6 with its hop-by-hop and routing headers, and IPv7 (TP/IX).
#pragma once

#include <cstdint>

#include "capture/frame.h"

int decode_ipv6(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
int decode_ipv6_hop_by_hop(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
int decode_ipv6_routing(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
// `offset` is that of the header named by next_header.
int decode_ipv6_next_header(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset,
                            uint8_t next_header);
void print_ipv6_next_header_name(decode_context& cx, uint8_t next_header);

int decode_ipv7(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
