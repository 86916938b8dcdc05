// IPv6 fragment, destination options and mobility headers.
#pragma once

#include <cstdint>

#include "capture/frame.h"

int decode_ipv6_fragment(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
int decode_ipv6_destination(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
int decode_ipv6_mobility(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);

// An IPv6 address field: all eight groups in text (as the IPv6 header
// shows them), the compressed form when recorded. The caller has checked
// that the 16 bytes were captured (or built them itself).
void ipv6_address_field(decode_context& cx, const char* key, const uint8_t* a);
