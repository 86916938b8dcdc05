// SMTP (TCP ports 25 and 587).
#pragma once

#include <cstdint>

#include "capture/frame.h"

int decode_smtp(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
