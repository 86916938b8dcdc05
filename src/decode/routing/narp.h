// NARP (IP protocol 54).
#pragma once

#include <cstdint>

struct decode_context;

int decode_narp(decode_context& cx, const uint8_t* frame, unsigned offset);
