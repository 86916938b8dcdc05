// VRRP (IP protocol 112).
#pragma once

#include <cstdint>

struct decode_context;

int decode_vrrp(decode_context& cx, const uint8_t* frame, unsigned offset);
// Over IPv6 (VRRP version 3) the virtual addresses are IPv6 ones.
int decode_vrrp_over_ipv6(decode_context& cx, const uint8_t* frame, unsigned offset);
