// MPLS (EtherTypes 0x8847 and 0x8848): the label stack and what it carries.
#pragma once

#include <cstdint>

struct decode_context;

int decode_mpls(decode_context& cx, const uint8_t* frame, unsigned offset);
