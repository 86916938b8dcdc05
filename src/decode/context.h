// The decode context: everything one frame's decoding reads and writes
// besides the read-only settings. Every decoder receives it; each decoding
// thread owns one, so frames decode side by side without sharing state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture/frame.h"
#include "decode/app/quic_connections.h"
#include "decode/ip/pseudo_header.h"
#include "decode/reassembly/reassembly.h"
#include "output/record.h"
#include "stats/counters.h"
#include "zelk.h"

// A TCP segment's bytes kept for the end-of-run stream print: the frame
// loop hands them to the collection in frame order.
struct tcp_stream_piece {
    uint8_t ip_header[20];  // a copy of the IPv4 header, zero behind IPv6
    uint8_t tcp_header[20];
    std::string payload;
};

// Application sessions kept from frame to frame (HTTP/2 header tables,
// media ports that SDP announced), made on first use; see
// decode/app/sessions.h.
struct app_sessions;
struct app_sessions_free {
    void operator()(app_sessions* s) const;
};

// The summary's first sequence number of each TCP direction, for relative
// numbers (output/summary.cpp).
struct summary_directions;
struct summary_directions_free {
    void operator()(summary_directions* d) const;
};

struct alignas(64) decode_context {
    explicit decode_context(zelk_text& text) : out(text) {}
    decode_context(const decode_context&) = delete;
    decode_context& operator=(const decode_context&) = delete;

    // Bounds of the frame being decoded: every checked read stays inside.
    const uint8_t* start = nullptr;
    const uint8_t* end = nullptr;  // one past the last captured byte
    uint32_t wire_length = 0;
    // End of the IP payload of the packet being decoded, cut at the
    // captured bytes; ip_payload_cut tells that the capture cut it short.
    const uint8_t* ip_payload_end = nullptr;
    bool ip_payload_cut = false;
    // True while a link decoder runs (dumps then belong to a layer).
    bool decoding = false;
    // Where the layer behind the link header begins, from the frame start
    // (an inner frame has its own).
    unsigned link_header_length = 0;
    unsigned long frame_number = 0;
    // How deep the decoders that hand on to each other are nested.
    unsigned depth = 0;

    // The transport ports of the payload an application decoder is given
    // (its direction: which end is the server).
    uint16_t source_port = 0;
    uint16_t destination_port = 0;
    // The TCP segment's sequence number, and whether the payload being
    // decoded is a message the TCP reassembly put together.
    uint32_t tcp_seq = 0;
    bool in_tcp_message = false;

    // The innermost IP header's addresses, for transport checksums.
    ip_pseudo_header pseudo{};
    // The IPv4 header in front of the TCP segment (for the stream print).
    const uint8_t* tcp_stream_ip_header = nullptr;

    // Where text goes: the main buffer in a one-thread run, the thread's
    // own otherwise.
    zelk_text& out;
    // The frame's fields, under --json and --summary.
    frame_record_data record;
    // This thread's counters; merged when the run ends.
    protocol_counters counters{};

    // Side work the frame loop hands on in frame order.
    std::vector<tcp_stream_piece> stream_pieces;
    // Scratch for checksum copies.
    std::vector<uint8_t> scratch;

    // Fragments (and later TCP flows) kept from frame to frame.
    reassembly_tables reassembly;
    // QUIC connection ids learned from long headers, per UDP flow.
    quic_connection_table quic_ids;
    std::unique_ptr<app_sessions, app_sessions_free> sessions;
    // Made on the first TCP segment of a --summary run.
    std::unique_ptr<summary_directions, summary_directions_free> tcp_directions;
};

// Thrown when decoders that hand on to each other nest deeper than
// max_nesting: a frame of tunnels in tunnels must not exhaust the stack.
struct nested_too_deep {};
constexpr unsigned max_nesting = 32;

// Held by every decoder that hands on to another one by a number in its
// header (IP protocol, next header, EtherType, an inner frame).
class nesting_guard {
public:
    explicit nesting_guard(decode_context& cx) : cx_(cx) {
        if (cx.depth >= max_nesting) throw nested_too_deep{};
        ++cx.depth;
    }
    ~nesting_guard() { --cx_.depth; }
    nesting_guard(const nesting_guard&) = delete;
    nesting_guard& operator=(const nesting_guard&) = delete;

private:
    decode_context& cx_;
};

// An inner frame (a tunnel's payload, an 802.11 body) decoded with bounds
// and a link header of its own; the outer ones come back when it ends.
class inner_frame_view {
   public:
    inner_frame_view(decode_context& cx, const uint8_t* end, unsigned link_header_length)
        : cx_(cx),
          end_(cx.end),
          ip_payload_end_(cx.ip_payload_end),
          ip_payload_cut_(cx.ip_payload_cut),
          link_header_length_(cx.link_header_length) {
        if (end && end < cx.end) cx.end = end;
        if (cx.ip_payload_end > cx.end) cx.ip_payload_end = cx.end;
        cx.link_header_length = link_header_length;
    }
    ~inner_frame_view() {
        cx_.end = end_;
        cx_.ip_payload_end = ip_payload_end_;
        cx_.ip_payload_cut = ip_payload_cut_;
        cx_.link_header_length = link_header_length_;
    }
    inner_frame_view(const inner_frame_view&) = delete;
    inner_frame_view& operator=(const inner_frame_view&) = delete;

   private:
    decode_context& cx_;
    const uint8_t* end_;
    const uint8_t* ip_payload_end_;
    bool ip_payload_cut_;
    unsigned link_header_length_;
};
