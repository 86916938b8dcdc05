// Slow protocols (EtherType 0x8809): LACP and marker PDUs.
#pragma once

#include <cstdint>

#include "capture/frame.h"

// `offset` is that of the subtype byte, behind the EtherType.
int decode_slow_protocols(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
