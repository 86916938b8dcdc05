// IEEE 802.11 MAC headers and the Prism monitor header in front of them.
#pragma once

#include <cstdint>

#include "capture/frame.h"

// The 802.11 header is read at frame start + offset.
int decode_ieee80211(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
// The 144-byte Prism header at the frame start, then the 802.11 frame.
int decode_prism(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
