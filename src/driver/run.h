// The run sequence, the end of a run and daemon mode.
#pragma once

#include <cstdio>
#include <ctime>

extern time_t start_time;
extern char start_time_text[60];

int run(int argc, char** argv);
// The end of every orderly run: reports, closing, "Exit."; never returns.
[[noreturn]] void exit_handler(int signal_number);
// Installed for the terminating signals: stops the capture so that the
// normal path runs exit_handler; fatal signals report and re-raise.
void signal_handler(int signal_number);
int become_daemon();
// Points a standard stream at a file opened for appending.
bool redirect_stream(FILE* stream, const char* path);

constexpr const char* pid_file_path = "/var/run/nodrix.pid";
