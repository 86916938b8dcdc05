// OSPF versions 2 and 3 (IP protocol 89): the common header.
#pragma once

#include <cstdint>

struct decode_context;

int decode_ospf(decode_context& cx, const uint8_t* frame, unsigned offset);
// OSPFv3 behind IPv6 (next header 89).
int decode_ospfv3(decode_context& cx, const uint8_t* frame, unsigned offset);
