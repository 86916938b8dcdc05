// IEEE 802.5 Token Ring MAC header.
#pragma once

#include <cstdint>

#include "capture/frame.h"

// Reads its header at the frame start; LLC frames that are not
// source-routed go on to the LLC decoder.
int decode_token_ring(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
