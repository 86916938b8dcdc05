// MSDP (TCP port 639): the message header.
#pragma once

#include <cstdint>

int decode_msdp(const uint8_t* frame, unsigned offset);
