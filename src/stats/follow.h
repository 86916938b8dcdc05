// --follow tcp|udp,N|ADDR:PORT,ADDR:PORT and --follow-raw FILE: the
// payload of one stream, in sequence order, each byte once.
#pragma once

#include <cstdint>

struct frame_fact;

// Parses the options; ends the run with status 1 on an error.
void start_follow();
bool follow_active();
// 6 (TCP), 17 (UDP) or 0.
uint8_t follow_protocol();
// The reading thread's part, in frame order.
void follow_take(const frame_fact& fact);
// End of run: the stream as text (or one JSON line); false when the input
// held no such stream or the raw file could not be written (the message is
// on standard error).
bool print_followed_stream();
