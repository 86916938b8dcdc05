// GGP (IP protocol 3).
#pragma once

#include <cstdint>

struct decode_context;

int decode_ggp(decode_context& cx, const uint8_t* frame, unsigned offset);
