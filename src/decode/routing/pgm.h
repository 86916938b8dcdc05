// PGM (IP protocol 113): the common header.
#pragma once

#include <cstdint>

int decode_pgm(const uint8_t* frame, unsigned offset);
