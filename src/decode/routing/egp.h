// EGP (IP protocol 8, IPv6 next header 8).
#pragma once

#include <cstdint>

#include "capture/frame.h"

int decode_egp(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
