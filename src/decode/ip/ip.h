// The IP version and IP protocol dispatches.
#pragma once

#include <cstdint>

#include "capture/frame.h"

// Link decoder for raw IP links: dispatches on the version nibble.
int decode_ip_version(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
// `offset` is that of the header behind the IP header.
int decode_ip_payload(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset,
                      uint16_t protocol);
void print_ip_protocol_name(decode_context& cx, uint16_t protocol);
// The same name recorded under another key (a next-header field).
void print_ip_protocol_name(decode_context& cx, const char* key, uint16_t protocol);
