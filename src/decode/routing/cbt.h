// CBT (IP protocol 7): the control packet header.
#pragma once

#include <cstdint>

#include "capture/frame.h"

int decode_cbt(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
