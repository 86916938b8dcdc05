// RADIUS (RFC 2865, 2866; UDP ports 1812 and 1813).
#pragma once

#include <cstdint>

#include "capture/frame.h"

int decode_radius(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
