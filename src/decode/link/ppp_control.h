// The PPP link, network, encryption, compression and authentication
// control protocols, and the Link Quality Report. Each finds its packet
// at frame start + link header length + offset, behind the PPP protocol
// field.
#pragma once

#include <cstdint>

int decode_lcp(const uint8_t* frame, unsigned offset);
int decode_ipcp(const uint8_t* frame, unsigned offset);
int decode_ipv6cp(const uint8_t* frame, unsigned offset);
int decode_ipxcp(const uint8_t* frame, unsigned offset);
int decode_atcp(const uint8_t* frame, unsigned offset);
int decode_ecp(const uint8_t* frame, unsigned offset);
int decode_ccp(const uint8_t* frame, unsigned offset);
int decode_pap(const uint8_t* frame, unsigned offset);
int decode_chap(const uint8_t* frame, unsigned offset);
int decode_lqr(const uint8_t* frame, unsigned offset);
