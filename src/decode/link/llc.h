// IEEE 802.2 LLC and SNAP.
#pragma once

#include <cstdint>

#include "capture/frame.h"

// `length` is the 802.3 length field in front of the LLC header.
int decode_llc(const frame_lengths* lengths, const uint8_t* frame, unsigned offset, uint16_t length);
