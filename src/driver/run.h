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
// Also installs SIGHUP like SIGTERM and the fatal-signal path.
void install_run_signals();
// Prints "Error: <text>." on standard error and stops the capture; the run
// then ends orderly with status 1.
void stop_with_error(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Called by the frame handlers after each frame: a failed write stops the run.
void check_frame_output();
void report_output_failure(int error);
// Called by every capture source right before its first frame: switches a
// root process to the run user and tells a waiting daemon parent that the
// start worked.
void begin_capture();

int become_daemon();
// The daemon's pid file: removed by whoever created it, at any exit.
void remove_pid_file();
// Before privileges go: keeps a root process that removes the pid file
// when the capture ends (daemon mode only).
void start_pid_file_watcher();
// Lets the parent of a daemon exit with status 0.
void daemon_started();
// Points a standard stream at a file opened for appending.
bool redirect_stream(FILE* stream, const char* path);

constexpr const char* pid_file_path = "/var/run/nodrix.pid";
