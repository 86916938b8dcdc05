// PPP: the protocol field, its names and the hand-off to the protocol behind it.
#pragma once

#include <cstdint>

#include "capture/frame.h"

// The protocol field at frame start + link header length + offset.
int decode_ppp(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
// Link decoder for PPP links: frames begin with address 0xff and control
// 0x03 in front of the protocol field, unless the link compressed them away.
int decode_ppp_link(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
