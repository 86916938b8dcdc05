// BGP (TCP port 179): the message header.
#pragma once

#include <cstdint>

struct decode_context;

int decode_bgp(decode_context& cx, const uint8_t* frame, unsigned offset);
