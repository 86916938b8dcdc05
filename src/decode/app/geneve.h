// Geneve (UDP 6081): the header with its options, then the inner frame.
#pragma once

#include <cstdint>

#include "capture/frame.h"

int decode_geneve(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
