// IPsec headers: Authentication Header, Encapsulating Security Payload,
// and the IP payload compression header.
#pragma once

#include <cstdint>

#include "capture/frame.h"

int decode_ah(const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
int decode_esp(const uint8_t* frame, unsigned offset);
int decode_ipcomp(const uint8_t* frame, unsigned offset);
