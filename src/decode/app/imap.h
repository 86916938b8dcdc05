// IMAP (TCP port 143).
#pragma once

#include <cstdint>

#include "capture/frame.h"

int decode_imap(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
