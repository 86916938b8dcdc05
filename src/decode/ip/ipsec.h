// IPsec headers: Authentication Header, Encapsulating Security Payload,
// and the IP payload compression header.
#pragma once

#include <cstdint>

#include "capture/frame.h"

int decode_ah(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
int decode_esp(decode_context& cx, const uint8_t* frame, unsigned offset);
int decode_ipcomp(decode_context& cx, const uint8_t* frame, unsigned offset);
