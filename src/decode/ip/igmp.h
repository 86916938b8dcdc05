// IGMP messages (IP protocol 2).
#pragma once

#include <cstdint>

#include "capture/frame.h"

int decode_igmp(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
void print_igmp_type_name(decode_context& cx, uint8_t type);
