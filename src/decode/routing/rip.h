// RIP for IP (UDP port 520), RIPng (UDP port 521) and IPX RIP.
#pragma once

#include <cstdint>

struct decode_context;

int decode_rip(decode_context& cx, const uint8_t* frame, unsigned offset);
int decode_ripng(decode_context& cx, const uint8_t* frame, unsigned offset);
int decode_ipx_rip(decode_context& cx, const uint8_t* frame, unsigned offset);
