// HTTP/1.x heads (any TCP port, by content).
#pragma once

#include <cstddef>
#include <cstdint>

#include "capture/frame.h"

// A request line ("GET / HTTP/1.1") or a status line ("HTTP/1.1 200 OK").
bool looks_like_http(decode_context& cx, const uint8_t* payload, size_t length);
int decode_http(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
