// LDAP v3 (TCP and UDP ports 389 and 3268): every message of a segment,
// or a message reassembled from several segments.
#pragma once

#include <cstdint>

#include "capture/frame.h"

// Over UDP (connectionless LDAP) and over TCP.
int decode_ldap(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
int decode_ldap_tcp(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
