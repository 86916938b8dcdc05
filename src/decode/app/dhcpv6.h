// DHCPv6 (UDP 546/547).
#pragma once

#include <cstdint>

#include "capture/frame.h"

int decode_dhcpv6(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
