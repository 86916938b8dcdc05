// Generic Routing Encapsulation, versions 0 and 1 (IP protocol 47).
#pragma once

#include <cstdint>

#include "capture/frame.h"

int decode_gre(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
