// DEC MOP version 3, the dump/load channel.
#pragma once

#include <cstdint>

int decode_mop(const uint8_t* frame, unsigned offset);
