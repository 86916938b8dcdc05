// The Linux cooked capture headers ("any" device), versions 1 and 2: no
// text of their own, dispatch by the protocol field.
#pragma once

#include <cstdint>

#include "capture/frame.h"

int decode_linux_cooked(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
int decode_linux_cooked2(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
