// GSMP (TCP port 6068): the message header.
#pragma once

#include <cstdint>

int decode_gsmp(const uint8_t* frame, unsigned offset);
