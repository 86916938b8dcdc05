// MPLS (EtherTypes 0x8847 and 0x8848): the label stack and what it carries.
#pragma once

#include <cstdint>

int decode_mpls(const uint8_t* frame, unsigned offset);
