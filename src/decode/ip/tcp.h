// TCP and the collection of TCP payload (--print-tcp-stream).
#pragma once

#include <cstdint>

#include "capture/frame.h"

// ip_version is 4 behind IPv4, 6 behind IPv6.
int decode_tcp(const frame_lengths* lengths, const uint8_t* frame, unsigned offset, int ip_version);

// Prints every collected payload byte, oldest segment first.
void print_collected_payload();
