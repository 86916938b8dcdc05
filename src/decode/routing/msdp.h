// MSDP (TCP port 639): the message header.
#pragma once

#include <cstdint>

struct decode_context;

int decode_msdp(decode_context& cx, const uint8_t* frame, unsigned offset);
