// IPv4.
#pragma once

#include <cstddef>
#include <cstdint>

#include "capture/frame.h"

int decode_ipv4(const frame_lengths* lengths, const uint8_t* frame, unsigned offset);

// The IPv4 header of the current frame's TCP segment, kept for the stream
// collection (set only under --print-tcp-stream).
extern const uint8_t* tcp_stream_ip_header;

// Dotted-quad text of the 4 bytes at a (checked), in a static buffer.
const char* ipv4_text(const uint8_t* a);
