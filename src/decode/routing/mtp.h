// MTP (IP protocol 92): the bridge header and the MTP header.
#pragma once

#include <cstdint>

struct decode_context;

int decode_mtp(decode_context& cx, const uint8_t* frame, unsigned offset);
