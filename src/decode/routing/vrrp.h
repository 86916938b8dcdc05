// VRRP (IP protocol 112).
#pragma once

#include <cstdint>

struct decode_context;

int decode_vrrp(decode_context& cx, const uint8_t* frame, unsigned offset);
