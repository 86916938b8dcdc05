// PPP over Ethernet: the PPPoE header and its discovery tags.
#pragma once

#include <cstdint>

#include "capture/frame.h"

int decode_pppoe(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
// `offset` is that of the PPPoE header.
int decode_pppoe_tags(decode_context& cx, const uint8_t* frame, unsigned offset);
