// DNS over UDP and TCP, and the multicast (mDNS) and link-local (LLMNR)
// variants that share its message format.
#pragma once

#include <cstdint>

#include "capture/frame.h"

int decode_dns(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
// TCP: each message behind its 2-byte length.
int decode_dns_tcp(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
int decode_mdns(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
int decode_llmnr(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
