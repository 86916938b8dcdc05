// RSVP (IP protocol 46): the common header.
#pragma once

#include <cstdint>

#include "capture/frame.h"

int decode_rsvp(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
