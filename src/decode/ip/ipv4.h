// IPv4.
#pragma once

#include <cstddef>
#include <cstdint>

#include "capture/frame.h"
#include "decode/decoder.h"

int decode_ipv4(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);

// Dotted-quad text of the 4 bytes at a (checked).
short_text ipv4_text(const decode_context& cx, const uint8_t* a);
