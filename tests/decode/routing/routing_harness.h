// Runs the routing decoders on bare messages: each wrapper is a link decoder
// that treats the frame (behind the link header) as the IP payload that
// carries the message, as the IP decoders would announce it.
#pragma once

#include <algorithm>
#include <cstdint>

#include "capture/frame.h"
#include "decode/decoder.h"

namespace routing_test {

// Length of the IP payload the wrappers announce; 0 means "the whole frame
// on the wire behind the link header".
inline size_t ip_payload_length = 0;

inline void announce_ip_payload(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame) {
    const uint8_t* start = frame + cx.link_header_length;
    size_t whole = lengths->wire_length - std::min(lengths->wire_length, cx.link_header_length);
    set_ip_payload(cx, start, ip_payload_length ? ip_payload_length : whole);
}

template <int (*decoder)(decode_context&, const uint8_t*, unsigned)>
int short_form(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned) {
    announce_ip_payload(cx, lengths, frame);
    return decoder(cx, frame, 0);
}

template <int (*decoder)(decode_context&, const frame_lengths*, const uint8_t*, unsigned)>
int full_form(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned) {
    announce_ip_payload(cx, lengths, frame);
    return decoder(cx, lengths, frame, 0);
}

}  // namespace routing_test
