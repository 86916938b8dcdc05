// TLS records (any TCP port, by content).
#pragma once

#include <cstddef>
#include <cstdint>

#include "capture/frame.h"

// A record header: content type 20 to 24 and major version 3.
bool looks_like_tls(decode_context& cx, const uint8_t* payload, size_t length);
int decode_tls(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
// A handshake message the TCP reassembly put together from several
// records, decoded whole.
void decode_tls_handshake_message(decode_context& cx, const uint8_t* message, size_t length);
