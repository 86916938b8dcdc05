// A tunnelled Ethernet frame (VXLAN, Geneve), decoded as a frame of its own.
#pragma once

#include <cstdint>

#include "capture/frame.h"

void decode_inner_ethernet(const frame_lengths* lengths, const uint8_t* frame, const uint8_t* inner);
