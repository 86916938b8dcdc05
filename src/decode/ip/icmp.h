// ICMP for IPv4.
#pragma once

#include <cstdint>

#include "capture/frame.h"

int decode_icmpv4(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
