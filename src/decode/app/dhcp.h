// DHCP and BOOTP (UDP 67/68).
#pragma once

#include <cstdint>

#include "capture/frame.h"

int decode_dhcp(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
