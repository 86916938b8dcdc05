// SLIP: IP datagrams between two END characters.
#pragma once

#include <cstdint>

#include "capture/frame.h"

int decode_slip(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
