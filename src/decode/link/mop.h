// DEC MOP version 3, the dump/load channel.
#pragma once

#include <cstdint>

struct decode_context;

int decode_mop(decode_context& cx, const uint8_t* frame, unsigned offset);
