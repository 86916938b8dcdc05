// IEEE 802.2 LLC and SNAP.
#pragma once

#include <cstdint>

#include "capture/frame.h"

// `length` is the 802.3 length field in front of the LLC header (or the
// caller's stand-in for it); it only sizes the CDP TLV area.
int decode_llc(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset,
               uint16_t length);
