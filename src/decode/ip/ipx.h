// IPX and the SPX transport that rides on it.
#pragma once

#include <cstdint>

// Both find their header at frame start + link header length + offset.
int decode_ipx(const uint8_t* frame, unsigned offset);
int decode_spx(const uint8_t* frame, unsigned offset);
