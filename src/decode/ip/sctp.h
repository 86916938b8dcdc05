// SCTP (the common header).
#pragma once

#include <cstdint>

int decode_sctp(const uint8_t* frame, unsigned offset);
