// PostgreSQL frontend and backend messages (TCP port 5432), protocol 3.
#pragma once

#include <cstddef>
#include <cstdint>

#include "capture/frame.h"

int decode_pgsql(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);

// The length of the message at the start of p (n bytes there), for the
// TCP reassembly: 0 when more bytes are needed, SIZE_MAX when p does not
// start a message.
size_t pgsql_message_length(const uint8_t* p, size_t n);
