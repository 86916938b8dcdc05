// POP3 (TCP port 110).
#pragma once

#include <cstdint>

#include "capture/frame.h"

int decode_pop3(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
