// The collection of TCP payload for --print-tcp-stream: the frame loop
// hands it each data segment in frame order; the end of the run prints it.
#pragma once

#include "decode/context.h"

void collect_tcp_stream_piece(const tcp_stream_piece& piece);
// Prints every collected payload byte, oldest segment first.
void print_collected_payload();
