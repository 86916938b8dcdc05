// TFTP (RFC 1350 with the option extension of RFC 2347; UDP port 69).
#pragma once

#include <cstdint>

#include "capture/frame.h"

int decode_tftp(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
