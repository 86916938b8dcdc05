// Redis serialization protocol, RESP2 and RESP3 (TCP port 6379).
#pragma once

#include <cstdint>

#include "capture/frame.h"

int decode_redis(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
