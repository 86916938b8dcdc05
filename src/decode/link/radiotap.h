// The radiotap header that Linux monitor-mode captures put in front of
// each 802.11 frame.
#pragma once

#include <cstdint>

#include "capture/frame.h"

// The radiotap header is read at frame start + offset; the 802.11 frame
// follows it at the length the header gives.
int decode_radiotap(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
