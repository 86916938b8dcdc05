// SCTP (the common header).
#pragma once

#include <cstdint>

struct decode_context;

int decode_sctp(decode_context& cx, const uint8_t* frame, unsigned offset);
