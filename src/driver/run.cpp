#include "driver/run.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "capture/bt_source.h"
#include "capture/frame.h"
#include "capture/interfaces.h"
#include "capture/iptrace.h"
#include "capture/link_source.h"
#include "capture/pcap_source.h"
#include "capture/status_lines.h"
#include "capture/raw_log.h"
#include "capture/slice.h"
#include "capture/snoop.h"
#include "capture/trace_file.h"
#include "driver/modules.h"
#include "driver/server.h"
#include "driver/settings.h"
#include "driver/usage_checks.h"
#include "filter/where.h"
#include "output/tcp_stream.h"
#include "pipeline/frame_loop.h"
#include "stats/counters.h"
#include "stats/views.h"
#include "zelk.h"
#include "zelk_net.h"

time_t start_time;
char start_time_text[60];

namespace {

// Whether a stream that stores output failed; reported once.
bool output_failed = false;

void check_output_stream() {
    if (output_failed) return;
    zelk_drain_output();
    FILE* out = zelk_output();
    int error = ferror(out) ? errno : 0;
    if (!error && zelk_flush(out) == 0) return;
    report_output_failure(error ? error : errno);
}

// The end-of-run work of exit_handler, without the exit.
void finish_run() {
    // Every frame read is written out before the reports.
    frame_loop_stop();
    if (settings.print_tcp_stream) print_collected_payload();
    bool views_ok = finish_stats_views();
    {
        // Beside summary lines or JSON Lines the closing lines go to
        // standard error.
        status_lines closing;
        if (settings.statistic && !settings.json) statistics_report();
        if (!settings.use_zelklib) {
            if (!settings.pcap_file) {
                capture_summary();
            } else if (capture.exit_status == 0 && slice_prints_closing()) {
                print_read_totals();
                zelk_printf("\nRead pcap dump file completed.\n");
            }
        } else {
            link_capture_summary();
        }
    }
    // The statistics object ends the JSON Lines, with the capture's counts.
    if (settings.statistic && settings.json) statistics_report();
    status_lines closing;
    close_raw_log();
    server_report();
    bool exit_printed = false;
    // A --range slice ends without it unless it read to the end of the file.
    bool print_exit = slice_prints_closing();
    if (settings.logfile) {
        // The closing lines belong in the log, so they go out before it closes.
        if (print_exit) {
            zelk_printf("\nExit");
            zelk_printf(".\n");
        }
        exit_printed = true;
        closing.end();
        check_output_stream();
        if (fclose(stdout) != 0 && !output_failed)
            zelk_fprintf(stderr, "Error: Can't close logfile %s.\n", settings.logfile);
        // Nothing more may reach the closed stream.
        zelk_set_really_quiet();
    }
    close_trace_file();
    remove_pid_file();
    unload_modules();
    if (settings.server_addr) server_close();
    // A stream that was not there is no success.
    if (!views_ok && capture.exit_status == 0) capture.exit_status = 1;
    if (settings.bt) {
        close_bluetooth_capture();
    } else if (!settings.use_zelklib && capture.handle) {
        pcap_close(capture.handle);
        capture.handle = nullptr;
    }
    if (!exit_printed) {
        if (print_exit) {
            zelk_printf("\nExit");
            zelk_printf(".\n");
        }
        closing.end();
        check_output_stream();
    }
}

}  // namespace

bool redirect_stream(FILE* stream, const char* path) {
    // Unlike freopen, a failed open leaves the stream as it was.
    int fd = zelk_open_protected(path, O_WRONLY | O_APPEND | O_CREAT, 0600);
    if (fd < 0) return false;
    zelk_flush(stream);
    bool ok = dup2(fd, fileno(stream)) >= 0;
    close(fd);
    return ok;
}

void report_output_failure(int error) {
    if (output_failed) return;
    output_failed = true;
    if (error == ECANCELED || (error == EINTR && zelk_stopped_by_signal())) {
        // A signal stopped the run while the reader took nothing: what is
        // left cannot be delivered, and the run ends as the signal asked.
        zelk_set_really_quiet();
        return;
    }
    if (error == EPIPE || capture.stop_signal == SIGPIPE) {
        // The reader left ("nodrix ... | head"): an orderly end, without a word.
        if (!capture.stop_signal) capture.stop_signal = SIGPIPE;
        if (capture.handle) pcap_breakloop(capture.handle);
        zelk_set_really_quiet();
        return;
    }
    if (settings.logfile)
        stop_with_error("Can't write logfile %s: %s", settings.logfile, strerror(error));
    else
        stop_with_error("Can't write standard output: %s", strerror(error));
    // Further text would only fail again.
    zelk_set_really_quiet();
}

void check_frame_output() {
    // A live capture shows each frame at once; text read from a file goes
    // out as the buffer fills, and a failed write is found then.
    if (!capture.reading_file) zelk_drain_output();
    if (!output_failed) {
        if (int error = zelk_output_error()) report_output_failure(error);
    }
    check_raw_log();
}

void stop_with_error(const char* format, ...) {
    zelk_flush(zelk_output());
    fputs("Error: ", stderr);
    va_list ap;
    va_start(ap, format);
    vfprintf(stderr, format, ap);
    va_end(ap);
    fputs(".\n", stderr);
    fflush(stderr);
    capture.exit_status = 1;
    if (!capture.stop_signal) capture.stop_signal = -1;
    if (capture.handle) pcap_breakloop(capture.handle);
}

void exit_handler(int) {
    finish_run();
    int stop = capture.stop_signal;
    if (stop == SIGSEGV || stop == SIGBUS || stop == SIGFPE || stop == SIGILL || stop == SIGABRT) {
        // A fatal signal sent to us ends the run orderly, but by that signal.
        zelk_flush(nullptr);
        signal(stop, SIG_DFL);
        raise(stop);
    }
    exit(capture.exit_status);
}

void signal_handler(int signal_number) {
    capture.stop_signal = signal_number;
    if (capture.handle) pcap_breakloop(capture.handle);
    // SIGPIPE comes with a failed write, which says so itself.
    if (signal_number != SIGPIPE) zelk_signal_stop();
}

namespace {

// A fault of the process itself cannot be survived: only async-signal-safe
// calls, then the default action. The same signal sent by another process
// asks for an orderly end that reports and then dies by that signal.
void fatal_signal_handler(int signal_number, siginfo_t* info, void*) {
    static volatile sig_atomic_t requested = 0;
    bool sent = info && (info->si_code == SI_USER || info->si_code == SI_QUEUE) && info->si_pid != getpid();
    if (sent && !requested) {
        requested = 1;
        signal_handler(signal_number);
        return;
    }
    // What is whole goes out first: the frames decoded before the fault
    // (with worker threads: every batch decoded, up to the first that is
    // not), and the raw log up to its last whole record.
    zelk_write_frames_at_fault();
    frame_loop_write_at_fault();
    write_raw_log_at_fault();
    static const char message[] = "Error: fatal signal, nodrix ends at once.\n";
    ssize_t ignored = write(STDERR_FILENO, message, sizeof message - 1);
    (void)ignored;
    signal(signal_number, SIG_DFL);
    raise(signal_number);
}

}  // namespace

void install_run_signals() {
    struct sigaction action {};
    action.sa_handler = signal_handler;
    sigemptyset(&action.sa_mask);
    // Without SA_RESTART: a write blocked on a reader that takes nothing
    // returns, and the run can end.
    action.sa_flags = 0;
    if (sigaction(SIGHUP, &action, nullptr) != 0) fputs("Error: Signal error while SIGHUP catching.\n", stderr);
    for (int s : {SIGINT, SIGTERM, SIGQUIT}) sigaction(s, &action, nullptr);
    zelk_set_stop_flag(&capture.stop_signal);
    zelk_install_write_wakeup();
    action.sa_sigaction = fatal_signal_handler;
    action.sa_flags = SA_SIGINFO;
    for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) sigaction(s, &action, nullptr);
}

namespace {

const char* default_user() {
    for (const char* name : {"nodrix", "nobody"})
        if (getpwnam(name)) return name;
    return nullptr;
}

}  // namespace

void begin_capture() {
    static bool begun = false;
    if (begun) return;
    begun = true;
    if (geteuid() == 0) {
        const char* user = settings.user ? settings.user : default_user();
        if (!user) {
            fprintf(stderr, "Error: No user nodrix or nobody to run as; name one with --user.\n");
            exit(1);
        }
        const passwd* account = getpwnam(user);
        if (account && account->pw_uid == 0) {
            fprintf(stderr, "Warning: Decoding as %s, with every privilege.\n", user);
        } else {
            start_pid_file_watcher();
            char error[256] = "";
            if (!zelk_drop_privileges(user, error, sizeof error)) {
                fprintf(stderr, "Error: Can't drop privileges: %s.\n", error);
                exit(1);
            }
        }
    } else {
        char error[256] = "";
        if (!zelk_drop_privileges(nullptr, error, sizeof error)) {
            fprintf(stderr, "Error: Can't drop privileges: %s.\n", error);
            exit(1);
        }
    }
    daemon_started();
}

namespace {

// Files decode on every core unless --jobs says otherwise. A live capture
// decodes each frame as it comes, and modules print as they are handed a
// payload, so both stay on one thread.
unsigned decoding_jobs() {
    bool file_input = settings.pcap_file || settings.iptrace_file || settings.snoop_file;
    if (modules_loaded() || settings.immediate) return 1;
    // A live capture decodes behind a queue only when asked to.
    if (!file_input) return settings.jobs > 1 ? settings.jobs : 1;
    if (settings.jobs) return settings.jobs;
    long cores = sysconf(_SC_NPROCESSORS_ONLN);
    return cores > 1 ? static_cast<unsigned>(cores < 64 ? cores : 64) : 1;
}

}  // namespace

int run(int argc, char** argv) {
    if (parse_command_line(argc, argv, &options) != 0) {
        fprintf(stderr, "Error: Unable to parse the command line!\n");
        exit(1);
    }
    apply_command_line(argv);
    if (settings.list_interfaces) exit(list_interfaces());
    warn_about_positionals();
    refuse_overwriting_capture_file();
    check_option_combinations(argv);
    check_slice_options(argv);
    if (slice_index_wanted()) exit(print_slice_index());
    start_where_filter();
    start_stats_views();
    resolve_device_number();
    // Module code runs only for a command line that was accepted.
    start_modules();
    if (settings.daemon) become_daemon();
    if (settings.logfile && !settings.daemon) {
        if (!redirect_stream(stdout, settings.logfile))
            zelk_fprintf(stderr, "Error: Can't open logfile %s.\n", settings.logfile);
        zelk_printf("Starting logging on %s(local time, not GMT)\n", zelk_time_string());
    }
    if (settings.statistic) {
        start_time = time(nullptr);
        snprintf(start_time_text, sizeof start_time_text, "%s", zelk_time_string());
    }

    const command_line_options& o = options;
    frame_loop_start(decoding_jobs());
    if (settings.server_addr) server_connect(settings.server_addr, static_cast<uint16_t>(o.server_port));
    if (settings.bt)
        run_bluetooth_capture(argv[0], o.bt);
    else if (o.filter_given)
        run_pcap_capture(argv[0], o.promisc, o.snaplen, o.filter, 1, o.max_packets);
    else if (settings.use_zelklib)
        run_link_layer_capture(argv[0], o.promisc, o.snaplen, o.max_packets);
    else if (settings.iptrace_file)
        read_iptrace_file(o.max_packets);
    else if (settings.snoop_file)
        read_snoop_file(o.max_packets);
    else
        run_pcap_capture(argv[0], o.promisc, o.snaplen, o.filter_nopt, 0, o.max_packets);
    return 0;
}
