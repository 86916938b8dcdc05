// Per-frame conventions shared by every capture source and decoder.
#pragma once

#include <pcap/pcap.h>

#include <csignal>
#include <cstdint>

struct trace_input;  // an open iptrace or snoop file (capture/trace_file.cpp)

struct frame_lengths {
    uint32_t captured_length;  // bytes present in the frame buffer
    uint32_t wire_length;      // the frame's length on the wire
};

struct decode_context;
typedef int (*link_decoder)(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);

struct capture_state_record {
    unsigned link_header_length;
    uint16_t link_decoder_index;
    unsigned long frame_counter;
    uint32_t byte_total;
    pcap_t* handle;
    pcap_dumper_t* raw_log_dumper;
    bool reading_file;
    // The open iptrace or snoop file (plain or gzip) and its path.
    trace_input* trace_file;
    const char* trace_file_path;
    // Set by the signal handler; every capture loop tests it.
    volatile sig_atomic_t stop_signal;
    // The link type of the frames being read (pcap numbering).
    int link_type;
    // Captured bytes of every frame read, for the totals of a file read.
    uint64_t captured_bytes;
    // The run's exit status: 1 once a failure stopped it.
    int exit_status;
    // A stop request that is no signal: a write failed or the input broke.
    bool failed;
    // The frames' time stamps are read in nanoseconds (a nanosecond pcap
    // file, pcapng, or a live device asked for them); the file is a
    // nanosecond pcap file.
    bool nanosecond_times;
    bool nanosecond_file;
};
extern capture_state_record capture;

constexpr int link_decoder_count = 15;
extern const link_decoder link_decoders[link_decoder_count];

// Sets the frame bounds, runs the link decoder and turns a header that runs
// past the captured bytes into one marker line.
void decode_frame(decode_context& cx, link_decoder decoder, const frame_lengths* lengths, const uint8_t* frame);

// Looks up a link type: fills the header length and decoder index and
// returns true, or returns false for a type nodrix does not decode.
bool link_type_lookup(int link_type, unsigned* header_length, uint16_t* decoder_index);
