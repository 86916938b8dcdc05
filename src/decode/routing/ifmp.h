// IFMP (IP protocol 101).
#pragma once

#include <cstdint>

int decode_ifmp(const uint8_t* frame, unsigned offset);
