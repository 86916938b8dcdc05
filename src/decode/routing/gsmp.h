// GSMP (TCP port 6068): the message header.
#pragma once

#include <cstdint>

struct decode_context;

int decode_gsmp(decode_context& cx, const uint8_t* frame, unsigned offset);
