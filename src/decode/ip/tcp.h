// TCP.
#pragma once

#include <cstdint>

#include "capture/frame.h"

// ip_version is 4 behind IPv4, 6 behind IPv6.
int decode_tcp(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset, int ip_version);
