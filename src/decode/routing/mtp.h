// MTP (IP protocol 92): the bridge header and the MTP header.
#pragma once

#include <cstdint>

int decode_mtp(const uint8_t* frame, unsigned offset);
