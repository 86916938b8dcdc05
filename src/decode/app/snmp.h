// SNMP v1 and v2c (UDP 161/162).
#pragma once

#include <cstdint>

#include "capture/frame.h"

int decode_snmp(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
