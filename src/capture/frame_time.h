// The time stamp of a frame line, in the format that --time-format chose.
#pragma once

#include <cstddef>
#include <cstdint>

// Called once per frame, before anything decides whether the frame is
// printed: it remembers the first and the previous frame for the relative
// and delta formats. Without --time-format the text is the UTC time of day
// "HH:MM:SS.uuuuuu". Writes the text into text (at least 64 bytes).
// nano_rest is what a nanosecond time stamp holds past the microsecond
// (0-999); the "-ns" formats show it.
void frame_time_text(long seconds, unsigned microseconds, char* text, size_t size, unsigned nano_rest = 0);

// True while the frame lines carry the plain time of day (no --time-format):
// the iptrace and snoop lines then keep their whole-second form.
bool frame_time_is_time_of_day();

// Forgets the first and the previous frame (a new run in the tests).
void frame_time_reset();

// A time stamp in microseconds, for arithmetic on capture times; a stamp
// beyond what 64 bits hold (a damaged file's) stands at the limit.
inline int64_t capture_micros(long seconds, unsigned microseconds) {
    constexpr int64_t limit = INT64_MAX / 1000000 - 1;
    int64_t s = seconds > limit ? limit : seconds < -limit ? -limit : seconds;
    return s * 1000000 + microseconds;
}

// A slice of a file continues the whole file's times: the first frame of
// the file (relative format) and the frame before the slice (delta format).
void frame_time_set_first(long seconds, unsigned microseconds, unsigned nano_rest = 0);
void frame_time_set_previous(long seconds, unsigned microseconds, unsigned nano_rest = 0);
