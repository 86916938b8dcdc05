// VXLAN (UDP 4789): the header, then the inner Ethernet frame.
#pragma once

#include <cstdint>

#include "capture/frame.h"

int decode_vxlan(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
