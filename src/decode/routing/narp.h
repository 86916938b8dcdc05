// NARP (IP protocol 54).
#pragma once

#include <cstdint>

int decode_narp(const uint8_t* frame, unsigned offset);
