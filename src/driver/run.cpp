#include "driver/run.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "capture/bt_source.h"
#include "capture/frame.h"
#include "capture/interfaces.h"
#include "capture/iptrace.h"
#include "capture/link_source.h"
#include "capture/pcap_source.h"
#include "capture/snoop.h"
#include "capture/trace_file.h"
#include "decode/ip/tcp.h"
#include "driver/modules.h"
#include "driver/server.h"
#include "driver/settings.h"
#include "driver/usage_checks.h"
#include "stats/counters.h"
#include "zelk.h"

time_t start_time;
char start_time_text[60];

namespace {

// The end-of-run work of exit_handler, without the exit.
void finish_run() {
    if (settings.print_tcp_stream) print_collected_payload();
    if (settings.statistic) statistics_report();
    if (!settings.use_zelklib) {
        if (!settings.pcap_file) {
            capture_summary();
        } else {
            print_read_totals();
            zelk_printf("\nRead pcap dump file completed.\n");
        }
    }
    if (settings.logfile_raw && !settings.use_zelklib && capture.raw_log_dumper) {
        pcap_dump_close(capture.raw_log_dumper);
        capture.raw_log_dumper = nullptr;
    }
    bool exit_printed = false;
    if (settings.logfile) {
        // The closing lines belong in the log, so they go out before it closes.
        zelk_printf("\nExit");
        zelk_printf(".\n");
        exit_printed = true;
        if (fclose(stdout) != 0) zelk_fprintf(stderr, "Error: Can't close logfile %s.\n", settings.logfile);
        // Nothing more may reach the closed stream.
        zelk_set_really_quiet();
    }
    close_trace_file();
    if (settings.daemon) unlink(pid_file_path);
    unload_modules();
    if (settings.server_addr) server_close();
    if (settings.bt) {
        close_bluetooth_capture();
    } else if (!settings.use_zelklib && capture.handle) {
        pcap_close(capture.handle);
        capture.handle = nullptr;
    }
    if (!exit_printed) {
        zelk_printf("\nExit");
        zelk_printf(".\n");
    }
}

}  // namespace

bool redirect_stream(FILE* stream, const char* path) {
    // Unlike freopen, a failed open leaves the stream as it was.
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT, 0644);
    if (fd < 0) return false;
    fflush(stream);
    bool ok = dup2(fd, fileno(stream)) >= 0;
    close(fd);
    return ok;
}

void exit_handler(int) {
    finish_run();
    exit(0);
}

void signal_handler(int signal_number) {
    if (signal_number == SIGSEGV || signal_number == SIGABRT) {
        static volatile sig_atomic_t in_fatal = 0;
        if (!in_fatal) {
            in_fatal = 1;
            finish_run();
            fflush(nullptr);
        }
        signal(signal_number, SIG_DFL);
        raise(signal_number);
        return;
    }
    capture.stop_signal = signal_number;
    if (capture.handle) pcap_breakloop(capture.handle);
}

int run(int argc, char** argv) {
    if (parse_command_line(argc, argv, &options) != 0) {
        fprintf(stderr, "Error: Unable to parse the command line!\n");
        exit(1);
    }
    apply_command_line(argv);
    if (settings.list_interfaces) exit(list_interfaces());
    warn_about_positionals();
    refuse_overwriting_capture_file();
    start_modules();
    check_option_combinations(argv);
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
