// VRRP (IP protocol 112).
#pragma once

#include <cstdint>

int decode_vrrp(const uint8_t* frame, unsigned offset);
