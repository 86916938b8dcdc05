// IPX and SPX.
#pragma once

#include <cstdint>

int decode_ipx(const uint8_t* frame, unsigned offset);
