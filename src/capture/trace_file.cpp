#include "capture/trace_file.h"

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "capture/frame.h"
#include "decode/context.h"
#include "driver/modules.h"
#include "driver/run.h"
#include "driver/server.h"
#include "driver/settings.h"
#include "pipeline/frame_loop.h"
#include "stats/counters.h"
#include "stats/views.h"
#include "zelk.h"

bool open_trace_file(const char* path) {
    gzFile file = gzopen(path, "r");
    if (!file) return false;
    gzbuffer(file, 1 << 17);
    capture.trace_file = file;
    capture.trace_file_path = path;
    capture.reading_file = true;
    return true;
}

void close_trace_file() {
    gzFile file = capture.trace_file;
    if (!file) return;
    capture.trace_file = nullptr;
    if (gzclose(file) < 0) zelk_fprintf(stderr, "Error: Can't close tracefile %s.\n", capture.trace_file_path);
}

bool trace_at_end() {
    // A look at the next byte finds the end of the uncompressed data as we
    // go, so a compressed file is never unpacked twice.
    int c = gzgetc(capture.trace_file);
    if (c != -1) {
        gzungetc(c, capture.trace_file);
        return false;
    }
    // A gzip stream cut short or damaged is no clean end: the record read
    // that follows reports it.
    int error = Z_OK;
    gzerror(capture.trace_file, &error);
    return error == Z_OK;
}

size_t read_trace_bytes(void* buffer, size_t n) {
    int got = gzread(capture.trace_file, buffer, static_cast<unsigned>(n));
    return got > 0 ? static_cast<size_t>(got) : 0;
}

uint8_t* read_record_data(uint32_t length, size_t* got) {
    // The block grows with the data actually present, so a damaged length
    // field costs no more memory than the file holds.
    constexpr size_t first_block = 1 << 16;
    constexpr size_t largest_read = 1 << 30;
    size_t capacity = std::min<size_t>(length, first_block);
    auto* data = static_cast<uint8_t*>(zelk_xmalloc(capacity + 1));
    size_t have = 0;
    while (have < length) {
        if (have == capacity) {
            capacity = std::min<size_t>(length, capacity * 2);
            data = static_cast<uint8_t*>(zelk_xrealloc(data, capacity + 1));
        }
        size_t want = std::min(capacity - have, largest_read);
        int n = gzread(capture.trace_file, data + have, static_cast<unsigned>(want));
        if (n <= 0) break;
        have += static_cast<size_t>(n);
    }
    *got = have;
    return data;
}

trace_outcome failed_read(bool record_header) {
    if (gzeof(capture.trace_file)) return trace_outcome::truncated;
    int error = Z_OK;
    gzerror(capture.trace_file, &error);
    if (error != Z_OK) {
        // Said on standard error when standard output shows no text.
        if (record_header)
            trace_file_failure("Error: Read packet failed(%d).\n", 0);
        else
            trace_file_failure("Error: Read packet failed.\n");
    }
    return trace_outcome::unreadable;
}

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
