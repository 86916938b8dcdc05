// DNS over UDP and TCP, and the multicast (mDNS) and link-local (LLMNR)
// variants that share its message format.
#pragma once

#include <cstddef>
#include <cstdint>

#include "capture/frame.h"

int decode_dns(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
// TCP: each message behind its 2-byte length.
int decode_dns_tcp(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
// Whether n bytes at p may begin a DNS message over TCP (its 2-byte
// length first): 1 yes, -1 no, 0 not known from so few bytes. The rest of
// a message whose start a stream did not show seldom passes: the length
// must hold a header, the opcode be known, the Z bit clear and the
// questions at most one.
int dns_tcp_message_start(const uint8_t* p, size_t n);
int decode_mdns(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
int decode_llmnr(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
