// ATM captures of reassembled AAL5 PDUs: multiprotocol encapsulation
// (always LLC) and Classical IP (LLC/SNAP or a bare IPv4 datagram).
#pragma once

#include <cstdint>

#include "capture/frame.h"

int decode_atm_rfc1483(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
// The Classical IP PDU is read at the frame start.
int decode_atm_clip(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
