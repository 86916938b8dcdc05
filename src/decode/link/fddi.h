// FDDI MAC header; the payload is not decoded.
#pragma once

#include <cstdint>

#include "capture/frame.h"

// Reads its header at the frame start.
int decode_fddi(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
