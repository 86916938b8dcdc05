// RIP for IP (UDP port 520), RIPng (UDP port 521) and IPX RIP.
#pragma once

#include <cstdint>

int decode_rip(const uint8_t* frame, unsigned offset);
int decode_ripng(const uint8_t* frame, unsigned offset);
int decode_ipx_rip(const uint8_t* frame, unsigned offset);
