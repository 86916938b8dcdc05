// IFMP (IP protocol 101).
#pragma once

#include <cstdint>

struct decode_context;

int decode_ifmp(decode_context& cx, const uint8_t* frame, unsigned offset);
