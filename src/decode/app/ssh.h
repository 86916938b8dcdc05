// SSH (TCP 22): the version exchange, then binary packets.
#pragma once

#include <cstdint>

#include "capture/frame.h"

int decode_ssh(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
