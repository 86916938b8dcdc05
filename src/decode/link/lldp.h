// LLDP (EtherType 0x88cc).
#pragma once

#include <cstdint>

#include "capture/frame.h"

// `offset` is that of the first TLV, behind the EtherType.
int decode_lldp(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
