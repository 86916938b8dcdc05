// MPLS (EtherTypes 0x8847 and 0x8848): the first label stack entry.
#pragma once

#include <cstdint>

int decode_mpls(const uint8_t* frame, unsigned offset);
