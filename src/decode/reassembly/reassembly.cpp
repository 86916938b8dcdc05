#include "decode/reassembly/reassembly.h"

#include <cstring>

#include "capture/frame_time.h"
#include "decode/app/dispatch.h"
#include "decode/app/http2.h"
#include "decode/app/sessions.h"
#include "decode/app/tls.h"
#include "decode/decoder.h"
#include <algorithm>

namespace {

// Deeper nesting (fragments inside reassembled tunnel datagrams) is not
// decoded: each level would use more stack.
constexpr int max_depth = 4;

// All contexts together hold at most --reassembly-memory (default 32 MiB):
// each decoding context gets its share, half for fragments, half for TCP.
constexpr uint64_t default_memory = 32u << 20;
unsigned context_count = 1;

size_t table_share() {
    uint64_t total = settings.reassembly_memory ? settings.reassembly_memory : default_memory;
    uint64_t share = total / context_count / 2;
    return static_cast<size_t>(share < 65536 ? 65536 : share);
}

fragment_limits limits_from_settings() {
    fragment_limits limits;
    limits.memory = table_share();
    return limits;
}

const char* verdict_key(fragment_verdict verdict) {
    switch (verdict) {
        case fragment_verdict::held: return "held";
        case fragment_verdict::completed: return "completed";
        case fragment_verdict::duplicate: return "duplicate";
        case fragment_verdict::overlap: return "overlap";
        case fragment_verdict::overlap_drop: return "overlap_dropped";
        case fragment_verdict::too_long: return "too_long";
        case fragment_verdict::bad_length: return "conflicting_length";
        case fragment_verdict::odd_length: return "bad_length";
        case fragment_verdict::after_drop: return "datagram_dropped";
        case fragment_verdict::not_kept: return "no_room";
    }
    return "held";
}

}  // namespace

bool reassembly_on() { return !settings.no_reassembly; }

void reassembly_set_contexts(unsigned contexts) { context_count = contexts ? contexts : 1; }

void reassembly_note_time(decode_context& cx, long seconds, unsigned microseconds) {
    cx.reassembly.now_us = capture_micros(seconds, microseconds);
}

void reassembly_keep_answers(decode_context& cx) {
    reassembly_replay& r = cx.reassembly.replay;
    r.fragments.clear();
    r.tcp.clear();
    r.repeats.clear();
    r.counts.clear();
    r.next_fragment = r.next_tcp = r.next_count = r.next_repeat = r.next_continues = 0;
    r.continues.clear();
    r.handshake_rests.clear();
    r.next_handshake_rest = 0;
    r.state = reassembly_replay::mode::keep;
    sessions_keep(cx);
}

void reassembly_replay_answers(decode_context& cx) {
    cx.reassembly.replay.state = reassembly_replay::mode::replay;
    sessions_rewind(cx);
}

void reassembly_answers_done(decode_context& cx) {
    cx.reassembly.replay.state = reassembly_replay::mode::off;
    if (cx.sessions) cx.sessions->keeping = false;
}

namespace {

// The counts an answer of the tables made: kept while keeping, added again
// while replaying (the first decoding's counts are given back).
protocol_counters& answer_counts(decode_context& cx) {
    reassembly_replay& r = cx.reassembly.replay;
    if (r.state != reassembly_replay::mode::keep) return cx.counters;
    r.counts.emplace_back();
    return r.counts.back();
}

void replay_counts(decode_context& cx) {
    reassembly_replay& r = cx.reassembly.replay;
    if (r.next_count >= r.counts.size()) return;
    protocol_counters& from = r.counts[r.next_count++];
#define NODRIX_ADD_COUNTER(name) cx.counters.name += from.name;
    NODRIX_REPORT_COUNTERS(NODRIX_ADD_COUNTER)
    NODRIX_MORE_COUNTERS(NODRIX_ADD_COUNTER)
#undef NODRIX_ADD_COUNTER
}

// HTTP/2 is known by its connection, which began with a preface or an
// upgrade; the other framings follow from the ports.
tcp_framing framing_of(decode_context& cx, const tcp_flow_key& key, const uint8_t* payload, size_t length) {
    if (find_h2(cx, key)) return tcp_framing::http2;
    size_t have = captured_from(cx, payload, length);
    if (looks_like_h2_preface(payload, have)) return tcp_framing::http2;
    return tcp_framing::usual;
}

}  // namespace

void reassembly_finish(decode_context& cx) {
    cx.reassembly.fragments.finish(cx.counters);
    cx.reassembly.tcp.finish(cx.counters);
}

namespace {

tcp_flow_key flow_key_of(decode_context& cx, const uint8_t* tcp_header) {
    const ip_pseudo_header& ip = cx.pseudo;
    tcp_flow_key key{};
    memcpy(key.source.data(), ip.source, ip.version == 4 ? 4 : 16);
    memcpy(key.destination.data(), ip.destination, ip.version == 4 ? 4 : 16);
    key.source_port = get_be16(cx, tcp_header);
    key.destination_port = get_be16(cx, tcp_header + 2);
    return key;
}

// Segments cut by the snap length, or of a datagram not yet whole, leave
// a gap that nothing fills: the streams do not take them.
bool stream_takes(decode_context& cx) {
    const ip_pseudo_header& ip = cx.pseudo;
    return ip.version != 0 && !ip.fragment && !cx.ip_payload_cut && cx.reassembly.depth < max_depth;
}

}  // namespace

bool tcp_segment_repeats(decode_context& cx, const uint8_t* tcp_header, size_t length) {
    if (!stream_takes(cx)) return false;
    reassembly_replay& replay = cx.reassembly.replay;
    if (replay.state == reassembly_replay::mode::replay)
        return replay.next_repeat < replay.repeats.size() && replay.repeats[replay.next_repeat++];
    bool repeat = cx.reassembly.tcp.repeats(flow_key_of(cx, tcp_header), get_be32(cx, tcp_header + 4),
                                            get_u8(cx, tcp_header + 13), length);
    if (replay.state == reassembly_replay::mode::keep) replay.repeats.push_back(repeat);
    return repeat;
}

void offer_tcp_segment(decode_context& cx, const uint8_t* tcp_header, const uint8_t* payload, size_t length) {
    if (!stream_takes(cx)) return;
    tcp_flow_key key = flow_key_of(cx, tcp_header);
    tcp_limits limits;
    limits.memory = table_share();
    limits.per_flow = std::min(limits.per_flow, limits.memory);
    reassembly_replay& replay = cx.reassembly.replay;
    std::vector<tcp_message> done;
    if (replay.state == reassembly_replay::mode::replay) {
        if (replay.next_tcp < replay.tcp.size()) done = replay.tcp[replay.next_tcp++];
        replay_counts(cx);
    } else {
        done = cx.reassembly.tcp.add(key, get_be32(cx, tcp_header + 4), get_u8(cx, tcp_header + 13), payload, length,
                                     cx.frame_number, cx.reassembly.now_us, limits, answer_counts(cx),
                                     framing_of(cx, key, payload, length));
        if (replay.state == reassembly_replay::mode::keep) replay.tcp.push_back(done);
    }
    for (const tcp_message& m : done) {
        if (m.handshake && cx.reassembly.depth >= max_depth) continue;
        zelk_printf(cx.out, "  [reassembled from frame%s ", m.frames.size() == 1 ? "" : "s");
        for (size_t i = 0; i < m.frames.size(); ++i) zelk_printf(cx.out, i ? ", %lu" : "%lu", m.frames[i]);
        zelk_printf(cx.out, ": %zu bytes]\n", m.bytes.size());
        bump(cx.counters.tcp_messages_reassembled);
        reassembled_view view(cx, m.bytes);
        struct message_scope {
            decode_context& cx;
            explicit message_scope(decode_context& c) : cx(c) { cx.in_tcp_message = true; }
            ~message_scope() { cx.in_tcp_message = false; }
        } scope(cx);
        cx.reassembly.message_handshake_rest = m.handshake_rest;
        if (m.handshake)
            decode_tls_handshake_message(cx, view.frame(), m.bytes.size());
        else
            decode_tcp_application(cx, view.lengths(), view.frame(), 0, key.source_port, key.destination_port);
        cx.reassembly.message_handshake_rest = 0;
        // Recorded in the message's own layer, which the decoder just began.
        for (unsigned long frame : m.frames) list_number(cx, "reassembled_frames", static_cast<long long>(frame));
        record_number(cx, "reassembled_length", static_cast<long long>(m.bytes.size()));
    }
}

bool tcp_payload_continues(decode_context& cx) {
    if (!reassembly_on() || cx.in_tcp_message) return false;
    reassembly_replay& replay = cx.reassembly.replay;
    if (replay.state == reassembly_replay::mode::replay)
        return replay.next_continues < replay.continues.size() && replay.continues[replay.next_continues++];
    tcp_flow_key key;
    bool answer = current_flow(cx, key) && cx.reassembly.tcp.continues(key, cx.tcp_seq);
    if (replay.state == reassembly_replay::mode::keep) replay.continues.push_back(answer);
    return answer;
}

uint32_t tls_handshake_rest(decode_context& cx) {
    if (!reassembly_on()) return 0;
    if (cx.in_tcp_message) return cx.reassembly.message_handshake_rest;
    reassembly_replay& replay = cx.reassembly.replay;
    if (replay.state == reassembly_replay::mode::replay)
        return replay.next_handshake_rest < replay.handshake_rests.size()
                   ? replay.handshake_rests[replay.next_handshake_rest++]
                   : 0;
    tcp_flow_key key;
    uint32_t answer = current_flow(cx, key) ? cx.reassembly.tcp.handshake_rest(key, cx.tcp_seq) : 0;
    if (replay.state == reassembly_replay::mode::keep) replay.handshake_rests.push_back(answer);
    return answer;
}

fragment_result offer_fragment(decode_context& cx, const fragment_key& key, uint32_t offset, const uint8_t* bytes,
                               uint32_t length, bool more, uint32_t limit) {
    reassembly_replay& replay = cx.reassembly.replay;
    if (replay.state == reassembly_replay::mode::replay) {
        fragment_result result;
        if (replay.next_fragment < replay.fragments.size()) result = replay.fragments[replay.next_fragment++];
        replay_counts(cx);
        return result;
    }
    fragment_result result =
        cx.reassembly.fragments.add(key, offset, bytes, length, more, limit, cx.frame_number, cx.reassembly.now_us,
                                    limits_from_settings(), answer_counts(cx));
    if (replay.state == reassembly_replay::mode::keep) replay.fragments.push_back(result);
    return result;
}

void show_fragment_result(decode_context& cx, const fragment_result& result, bool before_banner) {
    if (result.verdict == fragment_verdict::held) return;
    record_text(cx, "reassembly", verdict_key(result.verdict));
    // The text of a frame that completes nothing stays as without
    // reassembly: what befell its fragment is recorded and counted only.
    if (result.verdict != fragment_verdict::completed) return;
    if (before_banner) zelk_printf(cx.out, "\n");
    {
        for (unsigned long frame : result.frames) list_number(cx, "reassembled_frames", static_cast<long long>(frame));
        record_number(cx, "reassembled_length", static_cast<long long>(result.datagram.size()));
        if (result.overlapped) record_flag(cx, "reassembly_overlap", true);
        zelk_printf(cx.out, "  [reassembled from frame%s ", result.frames.size() == 1 ? "" : "s");
        for (size_t i = 0; i < result.frames.size(); ++i)
            zelk_printf(cx.out, i ? ", %lu" : "%lu", result.frames[i]);
        zelk_printf(cx.out, ": %zu bytes%s]", result.datagram.size(), result.overlapped ? ", overlapping" : "");
    }
    if (!before_banner) zelk_printf(cx.out, "\n");
}

reassembled_view::reassembled_view(decode_context& cx, const std::vector<uint8_t>& datagram)
    : cx_(cx),
      start_(cx.start),
      end_(cx.end),
      ip_payload_end_(cx.ip_payload_end),
      ip_payload_cut_(cx.ip_payload_cut),
      link_header_length_(cx.link_header_length),
      pseudo_payload_(cx.pseudo.payload),
      pseudo_fragment_(cx.pseudo.fragment),
      tcp_stream_ip_header_(cx.tcp_stream_ip_header) {
    static const uint8_t nothing = 0;
    frame_ = datagram.empty() ? &nothing : datagram.data();
    auto size = static_cast<uint32_t>(datagram.size());
    lengths_ = {size, size};
    usable_ = cx.reassembly.depth < max_depth;
    ++cx.reassembly.depth;
    cx.start = frame_;
    cx.end = frame_ + size;
    cx.ip_payload_end = cx.end;
    cx.ip_payload_cut = false;
    cx.link_header_length = 0;
    // The transport checksum now covers the whole datagram.
    cx.pseudo.payload = frame_;
    cx.pseudo.fragment = false;
    cx.tcp_stream_ip_header = nullptr;
}

reassembled_view::~reassembled_view() {
    --cx_.reassembly.depth;
    cx_.start = start_;
    cx_.end = end_;
    cx_.ip_payload_end = ip_payload_end_;
    cx_.ip_payload_cut = ip_payload_cut_;
    cx_.link_header_length = link_header_length_;
    cx_.pseudo.payload = pseudo_payload_;
    cx_.pseudo.fragment = pseudo_fragment_;
    cx_.tcp_stream_ip_header = tcp_stream_ip_header_;
}
