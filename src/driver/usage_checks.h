// Checks for habits carried over from other capture tools, which would
// otherwise lose data or mislead without a word.
#pragma once

// One warning line on standard error naming the positional arguments that
// nothing reads (the 0 or 1 that -p leaves behind excepted).
void warn_about_positionals();

// Ends the program (status 1) when the raw log would overwrite an existing
// capture file and --force-overwrite was not given: always when no capture
// source is named, else only while a person sits at the terminal.
void refuse_overwriting_capture_file();

// "-d N" with N all digits and no device of that name: the N-th device of
// --list-interfaces. Ends the program (status 1) when there is none.
void resolve_device_number();

// Whether the file starts like a capture file nodrix could read.
bool looks_like_capture_file(const char* path);
