// Live capture through the program's own raw link-layer socket.
#pragma once

#include <sys/socket.h>

#include <cstdint>

int run_link_layer_capture(const char* program_path, int promisc, int snaplen, int max_packets);
void link_frame_handler(const sockaddr* sender, const uint8_t* frame, int length);
// The frame line of the sources that know one length only, with its
// newline; the time is the moment the frame is handled.
// The kernel's counts at the end of a link-layer capture; closes the socket.
void link_capture_summary();
