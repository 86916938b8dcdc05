// The time stamp of a frame line, in the format that --time-format chose.
#pragma once

#include <cstddef>

// Called once per frame, before anything decides whether the frame is
// printed: it remembers the first and the previous frame for the relative
// and delta formats. Without --time-format the text is the UTC time of day
// "HH:MM:SS.uuuuuu". Writes the text into text (at least 64 bytes).
void frame_time_text(long seconds, unsigned microseconds, char* text, size_t size);

// True while the frame lines carry the plain time of day (no --time-format):
// the iptrace and snoop lines then keep their whole-second form.
bool frame_time_is_time_of_day();

// Forgets the first and the previous frame (a new run in the tests).
void frame_time_reset();
