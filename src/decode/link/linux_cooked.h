// The Linux cooked capture header ("any" device): dispatch only.
#pragma once

#include <cstdint>

#include "capture/frame.h"

int decode_linux_cooked(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
