// Checks for habits carried over from other capture tools, which would
// otherwise lose data or mislead without a word.
#pragma once

// One warning line on standard error naming the positional arguments that
// nothing reads (the 0 or 1 that -p leaves behind excepted).
void warn_about_positionals();

// Ends the program (status 1) when the raw log would overwrite an existing
// capture file while a person sits at the terminal and --force-overwrite
// was not given.
void refuse_overwriting_capture_file();

// Whether the file starts like a capture file nodrix could read.
bool looks_like_capture_file(const char* path);
