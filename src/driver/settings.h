// The command line record and the run-time settings derived from it.
#pragma once

#include <cstdint>

struct command_line_options {
    char* device;
    char* pcap_file;
    char* iptrace_file;
    char* snoop_file;
    char* filter;
    char* filter_nopt;
    int32_t promisc;
    int32_t snaplen;
    int32_t beep_on;
    int32_t max_packets;
    int32_t count;
    int32_t statistic;
    int32_t verbose;
    int32_t expand_ethernet;
    int32_t expand_llc;
    int32_t expand_token;
    int32_t expand_fddi;
    int32_t expand_arp;
    int32_t expand_pppoe;
    int32_t expand_all;
    int32_t daemon;
    char* logfile;
    char* logfile_raw;
    int32_t calc_checksums;
    int32_t print_raw_hex;
    int32_t print_ip_hex;
    int32_t print_tcp_hex;
    int32_t print_udp_hex;
    int32_t print_pppoe_hex;
    int32_t print_tcp_text;
    int32_t print_udp_text;
    int32_t print_tcp_stream;
    char* module;
    char* modules;
    int32_t module_ignore;
    char* server_addr;
    int32_t server_port;
    int32_t quiet;
    int32_t really_quiet;
    int32_t use_zelklib;
    int32_t bt;
    char* tcl;
    char* tcl_cbf;
    int32_t json;
    int32_t summary;
    char* where;

    int32_t help_given;
    int32_t version_given;
    int32_t device_given;
    int32_t pcap_file_given;
    int32_t iptrace_file_given;
    int32_t snoop_file_given;
    int32_t filter_given;
    int32_t filter_nopt_given;
    int32_t promisc_given;
    int32_t snaplen_given;
    int32_t beep_on_given;
    int32_t max_packets_given;
    int32_t count_given;
    int32_t statistic_given;
    int32_t verbose_given;
    int32_t expand_ethernet_given;
    int32_t expand_llc_given;
    int32_t expand_token_given;
    int32_t expand_fddi_given;
    int32_t expand_arp_given;
    int32_t expand_pppoe_given;
    int32_t expand_all_given;
    int32_t daemon_given;
    int32_t logfile_given;
    int32_t logfile_raw_given;
    int32_t calc_checksums_given;
    int32_t print_raw_hex_given;
    int32_t print_ip_hex_given;
    int32_t print_tcp_hex_given;
    int32_t print_udp_hex_given;
    int32_t print_pppoe_hex_given;
    int32_t print_tcp_text_given;
    int32_t print_udp_text_given;
    int32_t print_tcp_stream_given;
    int32_t module_given;
    int32_t modules_given;
    int32_t module_ignore_given;
    int32_t server_addr_given;
    int32_t server_port_given;
    int32_t quiet_given;
    int32_t really_quiet_given;
    int32_t use_zelklib_given;
    int32_t bt_given;
    int32_t tcl_given;
    int32_t tcl_cbf_given;
    int32_t json_given;
    int32_t summary_given;

    char** inputs;
    unsigned inputs_num;

    int32_t list_interfaces;
    int32_t list_interfaces_given;
    int32_t force_overwrite;
    int32_t force_overwrite_given;
    char* time_format;
    int32_t time_format_given;
    int32_t utc;
    int32_t utc_given;
    char* user;
    int32_t server_timeout;
    int32_t tcp_stream_limit;
    int32_t user_given;
    int32_t server_timeout_given;
    int32_t tcp_stream_limit_given;
    int32_t help_all_given;
    char* pid_file;
    int32_t pid_file_given;
    int32_t jobs;
    int32_t jobs_given;
    int32_t no_reassembly;
    int32_t no_reassembly_given;
    int32_t reassembly_memory;
    int32_t reassembly_memory_given;
    int32_t immediate;
    int32_t immediate_given;
    char* range;
    int32_t range_given;
    int32_t index;
    int32_t index_given;
    char* first_frame;
    int32_t first_frame_given;
    char* previous_time;
    int32_t previous_time_given;
    int32_t where_given;
    int32_t absolute_seq;
    int32_t absolute_seq_given;
    int32_t buffer_size;
    int32_t buffer_size_given;
    char* stats;
    int32_t stats_given;
    char* follow;
    int32_t follow_given;
    char* follow_raw;
    int32_t follow_raw_given;
    int32_t statistic_brief;
    int32_t statistic_brief_given;
};

// How the frame lines show their time stamp (--time-format).
enum class frame_time_format {
    time_of_day,  // the UTC time of day, when --time-format is not given
    absolute,     // local time of day
    date,         // local date and time
    epoch,        // seconds since 1970
    relative,     // since the first frame
    delta,        // since the previous frame
};

// Every setting is named after its long option; a flag is on exactly when
// its option was given. Text settings are null when not given.
struct run_settings {
    bool beep_on;
    bool count;
    bool statistic;
    bool verbose;
    bool expand_ethernet;
    bool expand_llc;
    bool expand_token;
    bool expand_fddi;
    bool expand_arp;
    bool expand_pppoe;
    bool expand_all;
    bool daemon;
    bool calc_checksums;
    bool print_raw_hex;
    bool print_ip_hex;
    bool print_tcp_hex;
    bool print_udp_hex;
    bool print_pppoe_hex;
    bool print_tcp_text;
    bool print_udp_text;
    bool print_tcp_stream;
    bool use_zelklib;
    bool bt;

    const char* logfile;
    const char* logfile_raw;
    const char* device;
    const char* pcap_file;
    const char* iptrace_file;
    const char* snoop_file;
    const char* server_addr;
    const char* module;

    int optimize_filter;

    // Structured output: JSON Lines or one summary line per frame. Either
    // one records fields instead of printing the decoded text.
    bool json;
    bool summary;
    bool record_fields;
    bool list_interfaces;
    bool force_overwrite;
    frame_time_format time_format;
    // The "-ns" forms of --time-format: nine decimals instead of six.
    bool time_nanoseconds;
    bool utc;
    // Who a run started as root continues as, once everything is open.
    const char* user;
    // Seconds to wait for the collecting server, in every exchange.
    int server_timeout;
    // Bytes --print-tcp-stream keeps at most; 0: no limit.
    uint64_t tcp_stream_limit;
    // The daemon's pid file (--pid-file, else the usual one).
    const char* pid_file;
    // Decoding threads for a capture file (--jobs); 0: one per core.
    unsigned jobs;
    // Frame-by-frame decoding only: no fragment reassembly.
    bool no_reassembly;
    // Bytes all reassembly tables may hold together; 0: the default.
    uint64_t reassembly_memory;
    // Each frame is written as soon as it is decoded (--immediate, or a
    // capture read from a pipe while someone watches the output).
    bool immediate;
    // The --where expression (checked before the first frame), or null.
    const char* where;
    // The expression names a key that only a name lookup in the system's
    // tables fills (a port's service name, a vendor).
    bool where_lookups;
    // The summary shows TCP sequence numbers as they are, not relative to
    // the first one of each direction (--absolute-seq).
    bool absolute_seq;
    // The kernel's capture buffer in MiB (--buffer-size); 0: libpcap's own.
    unsigned buffer_size;
};

extern command_line_options options;
extern run_settings settings;

// Fills `options` from argv; ends the program on duplicate or unknown options.
int parse_command_line(int argc, char** argv, command_line_options* record);
[[noreturn]] void print_help(const char* program_path, const char* message);
[[noreturn]] void print_version();
// Help and version, quiet modes, defaults, the snap-length clamp and the
// derived settings, in that order.
void apply_command_line(char** argv);
// The rejected combinations; ends the program with the help text.
void check_option_combinations(char** argv);
