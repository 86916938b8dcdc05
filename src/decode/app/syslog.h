// syslog over UDP (514).
#pragma once

#include <cstdint>

#include "capture/frame.h"

int decode_syslog(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
