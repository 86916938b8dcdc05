// Cisco and Wellfleet LAN protocols: CDP, CGMP and VTP (behind SNAP with
// the Cisco OUI), the Cisco HDLC link header and the Wellfleet BOFL frame.
#pragma once

#include <cstdint>

#include "capture/frame.h"

// `packet_length` is what the 802.3 length leaves behind the SNAP header.
int decode_cdp(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset,
               uint16_t packet_length);
int decode_cgmp(decode_context& cx, const uint8_t* frame, unsigned offset);
int decode_vtp(decode_context& cx, const uint8_t* frame, unsigned offset);
// The Cisco HDLC header is read at the frame start.
int decode_cisco_hdlc(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
int decode_bofl(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
