// IPX and the SPX transport that rides on it.
#pragma once

#include <cstdint>

struct decode_context;

// Both find their header at frame start + link header length + offset.
int decode_ipx(decode_context& cx, const uint8_t* frame, unsigned offset);
int decode_spx(decode_context& cx, const uint8_t* frame, unsigned offset);
