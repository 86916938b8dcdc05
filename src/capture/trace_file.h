// What the iptrace and snoop readers share: both files are read through
// gz_reader, which reads plain and gzip-compressed files alike, one record
// at a time from start to end.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zelk.h"

// How the reading of a trace file ended.
enum class trace_outcome {
    finished,           // an orderly end: statistics, close, exit status 0
    header_unreadable,  // the file is shorter than its file header
    truncated,          // the data ends inside a record, or a record is damaged
    stopped,            // a signal asked to stop; the exit handler ends the run
    unreadable,         // not a file of this kind, or a read failed: end sequence, status 1
};

// No link type carries a longer frame; a longer record is damaged.
constexpr uint32_t largest_trace_frame = 262144;

// Opens the file into capture.trace_file; false when it cannot be opened.
bool open_trace_file(const char* path);
// The same for a descriptor that is already open; the reader takes it.
void open_trace_descriptor(int fd, const char* path);
// Closes the open trace file, reporting a failed close.
void close_trace_file();

// True when the data ended cleanly where the next record would begin.
bool trace_at_end();
// Reads up to n bytes; returns how many were read (0 when none).
size_t read_trace_bytes(void* buffer, size_t n);
// Reads up to `length` bytes of record data into a new block that the
// caller frees; *got tells how many were read.
uint8_t* read_record_data(uint32_t length, size_t* got);
// After a read of a record header or of record data that gave no bytes:
// the end of the data means a truncated file; a stream error is reported
// and ends the reading (damaged gzip data with zlib's reason); a stop
// signal that interrupted a read stops the run.
trace_outcome failed_read(bool record_header);
// After a record whose data was cut short: a truncated file, or the
// damaged gzip data that cut it, reported as failed_read does.
trace_outcome cut_record();

// Ends the program as the outcome says; returns only for `stopped`.
// `header_message` is the reader's own text for an unreadable file header.
void finish_trace_file(trace_outcome outcome, const char* header_message);
// The decoder of a record whose link type nodrix does not decode.
struct decode_context;
struct frame_lengths;
int decode_unsupported_trace_frame(decode_context& cx, const frame_lengths*, const uint8_t*, unsigned);
// Says why a trace file cannot be read, on standard output as always; when
// that is not shown (JSON Lines, --quiet), on standard error instead, so
// that no failure goes unexplained.
void trace_file_failure(const char* format, ...) ZELK_PRINTF_FMT(1, 2);

inline uint32_t trace_be32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
