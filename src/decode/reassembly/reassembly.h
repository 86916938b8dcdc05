// Reassembly state kept from frame to frame in a decoding context: IP
// fragments today. One member of the context holds it all.
#pragma once

#include <cstdint>
#include <vector>

#include "capture/frame.h"
#include "stats/counters.h"
#include "decode/reassembly/ip_fragments.h"
#include "decode/reassembly/tcp_streams.h"

struct decode_context;

// What the tables answered while a frame was decoded, kept so that a second
// decoding of the same frame (--where judges a frame before its text is
// made) gets the same answers without feeding the tables twice.
struct reassembly_replay {
    enum class mode : uint8_t { off, keep, replay } state = mode::off;
    std::vector<fragment_result> fragments;
    std::vector<std::vector<tcp_message>> tcp;
    std::vector<bool> repeats;
    std::vector<protocol_counters> counts;  // what each answer counted
    std::vector<bool> continues;
    size_t next_continues = 0;
    std::vector<uint32_t> handshake_rests;
    size_t next_handshake_rest = 0;
    size_t next_fragment = 0, next_tcp = 0, next_count = 0, next_repeat = 0;
};

struct reassembly_tables {
    fragment_table fragments;
    tcp_stream_table tcp;
    reassembly_replay replay;
    // Capture time of the frame being decoded: timeouts follow it.
    int64_t now_us = 0;
    // Reassembled datagrams being decoded inside one another.
    int depth = 0;
    // The TLS record being decoded as a reassembled message: how many
    // bytes of an earlier handshake message its body begins with.
    uint32_t message_handshake_rest = 0;
};

// True unless --no-reassembly asked for frame-by-frame decoding.
bool reassembly_on();
// How many decoding contexts share the reassembly memory; set before the
// first frame.
void reassembly_set_contexts(unsigned contexts);
// The frame loop's start of a frame: notes its capture time.
void reassembly_note_time(decode_context& cx, long seconds, unsigned microseconds);
// A frame is about to be decoded twice: the first decoding keeps the
// tables' answers, the second gets them again; then back to normal.
void reassembly_keep_answers(decode_context& cx);
void reassembly_replay_answers(decode_context& cx);
void reassembly_answers_done(decode_context& cx);
// End of the run: counts the fragment sets still waiting as incomplete.
// The frame loop calls it for each context before it merges the counters.
void reassembly_finish(decode_context& cx);

// Offers the fragment in [bytes, bytes + length) of the datagram `key`.
// Returns what became of it; a completed datagram comes with its bytes.
fragment_result offer_fragment(decode_context& cx, const fragment_key& key, uint32_t offset, const uint8_t* bytes,
                               uint32_t length, bool more, uint32_t limit);

// True when the TCP segment's payload (length bytes) begins with bytes
// already seen in its direction: a retransmission, whose messages were
// shown already.
bool tcp_segment_repeats(decode_context& cx, const uint8_t* tcp_header, size_t length);

// Hands a TCP segment's payload to its direction's stream and decodes
// every message it completes that spans frames, each behind a line naming
// the frames it came from.
void offer_tcp_segment(decode_context& cx, const uint8_t* tcp_header, const uint8_t* payload, size_t length);

// Whether the current TCP segment's payload continues a message that an
// earlier segment began (or comes out of order), so that it does not
// start with a message of its own: the decoders of framed protocols then
// leave it to the reassembly. False inside a reassembled message.
bool tcp_payload_continues(decode_context& cx);

// How many bytes of a TLS handshake message that earlier records began
// the first record of the current TCP payload begins with (0 when none,
// UINT32_MAX when not known); the TLS decoder shows them as a fragment.
uint32_t tls_handshake_rest(decode_context& cx);

// Prints the line that tells what became of a fragment (nothing for one
// simply held) and records it. `before_banner`: the next layer's banner
// starts with a line break, so the line goes before it instead of after.
void show_fragment_result(decode_context& cx, const fragment_result& result, bool before_banner);

// Decodes a reassembled datagram's bytes, bounded by them, as if they
// were the frame: the context's bounds come back afterwards.
class reassembled_view {
   public:
    reassembled_view(decode_context& cx, const std::vector<uint8_t>& datagram);
    ~reassembled_view();
    reassembled_view(const reassembled_view&) = delete;
    reassembled_view& operator=(const reassembled_view&) = delete;
    const uint8_t* frame() const { return frame_; }
    const frame_lengths* lengths() const { return &lengths_; }
    // False when datagrams nest too deep to decode one more.
    bool usable() const { return usable_; }

   private:
    decode_context& cx_;
    const uint8_t* frame_;
    frame_lengths lengths_;
    bool usable_;
    const uint8_t* start_;
    const uint8_t* end_;
    const uint8_t* ip_payload_end_;
    bool ip_payload_cut_;
    unsigned link_header_length_;
    const uint8_t* pseudo_payload_;
    bool pseudo_fragment_;
    const uint8_t* tcp_stream_ip_header_;
};
