// GGP (IP protocol 3).
#pragma once

#include <cstdint>

int decode_ggp(const uint8_t* frame, unsigned offset);
