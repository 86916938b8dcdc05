// The PPP link, network, encryption, compression and authentication
// control protocols, and the Link Quality Report. Each finds its packet
// at frame start + link header length + offset, behind the PPP protocol
// field.
#pragma once

#include <cstdint>

struct decode_context;

int decode_lcp(decode_context& cx, const uint8_t* frame, unsigned offset);
int decode_ipcp(decode_context& cx, const uint8_t* frame, unsigned offset);
int decode_ipv6cp(decode_context& cx, const uint8_t* frame, unsigned offset);
int decode_ipxcp(decode_context& cx, const uint8_t* frame, unsigned offset);
int decode_atcp(decode_context& cx, const uint8_t* frame, unsigned offset);
int decode_ecp(decode_context& cx, const uint8_t* frame, unsigned offset);
int decode_ccp(decode_context& cx, const uint8_t* frame, unsigned offset);
int decode_pap(decode_context& cx, const uint8_t* frame, unsigned offset);
int decode_chap(decode_context& cx, const uint8_t* frame, unsigned offset);
int decode_lqr(decode_context& cx, const uint8_t* frame, unsigned offset);
