// The one frame loop. Every capture source hands each frame it reads to
// frame_loop_handle; the loop numbers it, decodes it (at once, or on a
// worker thread under --jobs), and hands the result to the sinks (the
// output stream, the raw log, the collecting server, the TCP stream
// collection) in frame order.
#pragma once

#include <pcap/pcap.h>

#include <cstdint>

#include "capture/frame.h"

// How the frame line reads: live and pcap frames are "Received", frames of
// iptrace and snoop files "Read".
enum class frame_line_kind : uint8_t {
    received,         // "Received frame N(captured/wire bytes length)"
    received_length,  // "Received frame N(length bytes length)": raw socket, Bluetooth
    read_length,      // "Read frame N(length bytes length)": iptrace
    read_lengths,     // "Read frame N(captured/wire bytes length)": snoop
};

struct captured_frame {
    const uint8_t* bytes;
    frame_lengths lengths;
    long seconds;
    unsigned microseconds;
    // The nanoseconds past the microsecond (0-999) of a nanosecond stamp.
    unsigned nano_rest;
    // The length the frame line names for the read kinds.
    uint32_t line_length;
    frame_line_kind line;
    link_decoder decoder;  // nullptr: announced, not decoded
    unsigned link_header_length;
    int link_type;
    // The Bluetooth source has no raw hex dump; trace files forward no
    // frames to the collecting server.
    bool skip_raw_hex;
    bool skip_server;
    // The bytes stay where they are until frame_loop_drain returns (a
    // mapped file), so the loop need not copy them.
    bool bytes_stay;
    // Whether the frame goes to the raw log, and its record header there.
    bool raw_log;
    pcap_pkthdr raw_log_header;
};

// How many workers decode; 1 decodes on the calling thread.
void frame_loop_start(unsigned jobs);
// Decodes one frame (or queues it) and does its side work.
void frame_loop_handle(const captured_frame& frame);
// A live source that hands over frames in bursts asks after each burst
// whether frames wait for the decoding thread behind the capture thread
// (false when they have waited long enough: it is woken then), waits a
// moment for more, and calls frame_loop_flush when none came. So the thread
// is woken once for many frames instead of once a frame.
bool frame_loop_frames_waiting();
void frame_loop_flush();
// Waits for every queued frame and writes it out; the run's counters are
// then complete. Safe to call more than once.
void frame_loop_drain();
// Waits for every queued frame and writes it out; flow state stays.
void frame_loop_wait();
// True while frames decode on worker threads.
bool frame_loop_parallel();
// Drains, then ends the worker threads.
void frame_loop_stop();
// For a fatal signal's handler: writes, in frame order, every batch the
// workers have decoded that was not yet written, up to the first one not
// fully decoded, with write(2) alone (after the main buffer's text, which
// precedes them). Async-signal-safe; nothing without workers.
void frame_loop_write_at_fault();
// The context a one-thread run decodes in (the tests' helpers use it too).
struct decode_context;
decode_context& frame_loop_main_context();
