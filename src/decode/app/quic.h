// QUIC (UDP 443, and long headers on any UDP port): the invariant header
// fields; payloads are protected and not decoded.
#pragma once

#include <cstddef>
#include <cstdint>

#include "capture/frame.h"

// A long header with the fixed bit, a known version and a connection id
// length within the limit.
bool looks_like_quic_long(decode_context& cx, const uint8_t* payload, size_t length);
int decode_quic(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
