#include "capture/trace_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "capture/frame.h"
#include "capture/gz_reader.h"
#include "decode/context.h"
#include "driver/modules.h"
#include "driver/run.h"
#include "driver/server.h"
#include "driver/settings.h"
#include "pipeline/frame_loop.h"
#include "stats/counters.h"
#include "stats/views.h"
#include "zelk.h"

// The open file: the reader and a buffer in front of it, so that records
// are taken in small pieces without a read (or an inflate) for each.
struct trace_input {
    explicit trace_input(int fd) : reader(fd) {}
    gz_reader reader;
    static constexpr size_t buffer_size = 1 << 17;
    std::unique_ptr<char[]> buffer = std::make_unique<char[]>(buffer_size);
    size_t at = 0, length = 0;
    bool ended = false;   // the data ended cleanly
    bool failed = false;  // a read failed; `error` says why
    int error = 0;
};

namespace {

// True when the buffer holds bytes, reading more when it is empty.
bool buffered() {
    trace_input& in = *capture.trace_file;
    if (in.at < in.length) return true;
    if (in.ended || in.failed) return false;
    ssize_t n = in.reader.read(in.buffer.get(), trace_input::buffer_size);
    in.at = 0;
    in.length = n > 0 ? static_cast<size_t>(n) : 0;
    if (n == 0) in.ended = true;
    if (n < 0) {
        in.failed = true;
        in.error = errno;
    }
    return n > 0;
}

// Says why the reading failed, after the frames read before it.
trace_outcome report_failure(bool record_header) {
    const trace_input& in = *capture.trace_file;
    // A stop signal interrupted a read that waited on a pipe: no failure,
    // the run ends as asked.
    if (in.error == EINTR && capture.stop_signal) return trace_outcome::stopped;
    frame_loop_wait();
    if (const char* why = in.error == EIO ? gz_reader::failure() : nullptr) {
        // Worded as for a damaged compressed pcap file.
        zelk_flush(zelk_output());
        zelk_fprintf(stderr, "Error: error reading dump file: %s.\n", why);
    } else if (record_header) {
        // Said on standard error when standard output shows no text.
        trace_file_failure("Error: Read packet failed(%d).\n", 0);
    } else {
        trace_file_failure("Error: Read packet failed.\n");
    }
    return trace_outcome::unreadable;
}

}  // namespace

void open_trace_descriptor(int fd, const char* path) {
    capture.trace_file = new trace_input(fd);
    capture.trace_file_path = path;
    capture.reading_file = true;
}

bool open_trace_file(const char* path) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    open_trace_descriptor(fd, path);
    return true;
}

void close_trace_file() {
    trace_input* in = capture.trace_file;
    if (!in) return;
    capture.trace_file = nullptr;
    int error = in->reader.close_file();
    delete in;
    if (error) zelk_fprintf(stderr, "Error: Can't close tracefile %s.\n", capture.trace_file_path);
}

bool trace_at_end() {
    // A damaged or unreadable file is no clean end: the record read that
    // follows reports it.
    return !buffered() && !capture.trace_file->failed;
}

size_t read_trace_bytes(void* buffer, size_t n) {
    trace_input& in = *capture.trace_file;
    auto* to = static_cast<char*>(buffer);
    size_t have = 0;
    while (have < n && buffered()) {
        size_t take = std::min(n - have, in.length - in.at);
        memcpy(to + have, in.buffer.get() + in.at, take);
        in.at += take;
        have += take;
    }
    return have;
}

uint8_t* read_record_data(uint32_t length, size_t* got) {
    // The block grows with the data actually present, so a damaged length
    // field costs no more memory than the file holds.
    constexpr size_t first_block = 1 << 16;
    size_t capacity = std::min<size_t>(length, first_block);
    auto* data = static_cast<uint8_t*>(zelk_xmalloc(capacity + 1));
    size_t have = 0;
    while (have < length) {
        if (have == capacity) {
            capacity = std::min<size_t>(length, capacity * 2);
            data = static_cast<uint8_t*>(zelk_xrealloc(data, capacity + 1));
        }
        size_t n = read_trace_bytes(data + have, capacity - have);
        if (n == 0) break;
        have += n;
    }
    *got = have;
    return data;
}

trace_outcome failed_read(bool record_header) {
    if (!capture.trace_file->failed) return trace_outcome::truncated;
    return report_failure(record_header);
}

trace_outcome cut_record() { return failed_read(false); }

void finish_trace_file(trace_outcome outcome, const char* header_message) {
    frame_loop_drain();
    // A stop signal interrupts a read that waits on a pipe: whatever the
    // read then made of it, the run ends as asked.
    if (capture.stop_signal) return;
    switch (outcome) {
        case trace_outcome::stopped: return;
        case trace_outcome::header_unreadable: zelk_fprintf(stderr, "Error: %s\n", header_message); exit(1);
        case trace_outcome::truncated:
            zelk_fprintf(stderr, "Error: %s\n",
                         "End of file reached, but not at the right position, maybe truncated.\n");
            exit(1);
        case trace_outcome::unreadable: capture.exit_status = 1; break;
        case trace_outcome::finished: break;
    }
    if (!finish_stats_views() && capture.exit_status == 0) capture.exit_status = 1;
    if (settings.statistic) statistics_report();
    server_report();
    if (zelk_flush(stdout) != 0 || ferror(stdout)) report_output_failure(errno ? errno : EIO);
    close_trace_file();
    // The reader ends the run itself, so it also removes the pid file.
    remove_pid_file();
    unload_modules();
    server_close();
    frame_loop_stop();
    exit(capture.exit_status);
}

void trace_file_failure(const char* format, ...) {
    char text[256];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    // Summary lines and JSON Lines leave standard output to the frames; a
    // daemon's standard output goes nowhere, its standard error reaches the
    // shell that started it until the capture runs.
    if (zelk_output_enabled() && !settings.record_fields && !settings.daemon)
        zelk_printf("%s", text);
    else
        zelk_fprintf(stderr, "%s%s", strncmp(text, "Error: ", 7) == 0 ? "" : "Error: ", text);
}

int decode_unsupported_trace_frame(decode_context& cx, const frame_lengths*, const uint8_t*, unsigned) {
    zelk_printf(cx.out, "\n- Not support packet type -\n");
    return 0;
}
