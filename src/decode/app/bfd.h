// BFD control packets (RFC 5880; UDP ports 3784 and 4784).
#pragma once

#include <cstdint>

#include "capture/frame.h"

int decode_bfd(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
