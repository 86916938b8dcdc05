// BGP (TCP port 179): the message header.
#pragma once

#include <cstdint>

int decode_bgp(const uint8_t* frame, unsigned offset);
