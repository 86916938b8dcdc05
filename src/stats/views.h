// Statistics views (--stats) and stream following (--follow).
//
// The worker that decodes a frame takes what the views need from the
// frame's record (a frame_fact) when the frame is shown; the reading thread
// gathers the facts in frame order. Every table therefore comes out the
// same for any number of jobs, row limits included, and streams are
// numbered by their first frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct decode_context;

// What one shown frame gives the views.
struct frame_fact {
    unsigned long number = 0;
    long seconds = 0;
    unsigned microseconds = 0;
    uint32_t wire_length = 0;
    // The decoded layers, outermost first, joined by ':'.
    std::string stack;
    // Every IP header with both addresses, outermost first (a tunnel's
    // inner headers count as their own conversations, as in tshark).
    struct ip_pair {
        uint8_t version;
        std::string src, dst;
    };
    std::vector<ip_pair> ips;
    // The first TCP or UDP header and the IP header in front of it
    // (transport 0: none).
    uint8_t transport = 0;
    std::string src, dst;
    uint16_t src_port = 0, dst_port = 0;
    // The TCP and UDP headers after the first (inside a tunnel), for the
    // conversation tables.
    struct inner_transport {
        uint8_t protocol;
        std::string src, dst;
        uint16_t src_port, dst_port;
        unsigned ports;
    };
    std::vector<inner_transport> inner;
    // Application facts: a kind (see views.cpp) and its text.
    std::vector<std::pair<uint8_t, std::string>> notes;
    // The segment's payload, kept only while a stream is followed.
    uint32_t seq = 0;
    uint8_t tcp_flags = 0;
    bool has_payload = false;
    std::string payload;
};

// The transport payload the TCP or UDP decoder saw, noted while the frame
// is recorded; the first one of a frame counts.
struct transport_payload_note {
    const uint8_t* bytes = nullptr;
    size_t length = 0;
    uint32_t seq = 0;
    uint8_t flags = 0;
    uint8_t protocol = 0;
};

// Parses --stats, --follow and --follow-raw; ends the run with status 1
// and one message on standard error when they do not parse.
void start_stats_views();
// True when shown frames give facts (--stats or --follow).
bool stats_views_on();
// True when the transport decoders should note their payload.
bool follow_wanted(uint8_t protocol);

// A worker's part: called for a frame the record of which is complete and
// shown; appends its fact to the context.
void note_frame_fact(decode_context& cx);
void note_transport_payload(decode_context& cx, uint8_t protocol, const uint8_t* bytes, size_t length, uint32_t seq,
                            uint8_t flags);

// Forgets the payload noted for the frame before (a new frame begins).
void forget_transport_payload();
// The facts of the frames this thread decoded, oldest first; the frame loop
// takes them away.
std::vector<frame_fact>& stats_thread_facts();

// The reading thread's part, in frame order.
void take_frame_fact(frame_fact& fact);
// Every frame read, shown or not: the capture span of the --statistic report.
void note_frame_time(long seconds, unsigned microseconds);

// End of run: the tables, then the followed stream; false when the
// followed stream was not found or its raw file could not be written.
bool finish_stats_views();
// The capture span, after the --statistic report.
void print_capture_span();
