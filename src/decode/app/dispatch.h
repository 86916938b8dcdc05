// Application protocols behind TCP and UDP: chosen by port, and by content
// where ports lie.
#pragma once

#include <cstdint>

#include "capture/frame.h"

// Each decoder gets the transport payload at header_at(cx, frame, offset); it
// ends where the IP payload ends (ip_message_length). Decoders are only
// called when there is at least one payload byte.
typedef int (*app_decoder)(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);

// Return true when a decoder took the payload.
bool decode_udp_application(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset,
                            uint16_t source_port, uint16_t destination_port);
bool decode_tcp_application(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset,
                            uint16_t source_port, uint16_t destination_port);

// True when a datagram between these ports may carry whole frames (a
// tunnel), i.e. further link, IP and transport headers.
bool udp_may_carry_frames(uint16_t source_port, uint16_t destination_port);
