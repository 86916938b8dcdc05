#include <getopt.h>
#include <pcap/pcap.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "driver/run.h"
#include "driver/settings.h"
#include "zelk.h"

command_line_options options;
run_settings settings;

namespace {

constexpr const char* version = "0.11";
constexpr int default_server_port = 2777;
constexpr int default_server_timeout = 10;
constexpr uint64_t default_tcp_stream_limit = 64u << 20;

enum class kind { flag, text, integer, help, help_all, version };

struct option_row {
    const char* name;
    char letter;  // 0: long only
    kind type;
    int32_t command_line_options::*value;
    char* command_line_options::*text;
    int32_t command_line_options::*given;
    // The line --help-all adds for an option the usage text does not show;
    // null for the options the usage text already explains.
    const char* more_help;
    // Accepted range of an integer option.
    int32_t minimum;
    int32_t maximum;
};

#define FLAG(n, l, f, h) \
    { n, l, kind::flag, &command_line_options::f, nullptr, &command_line_options::f##_given, h, 0, 0 }
#define INT(n, l, f, h, lo, hi) \
    { n, l, kind::integer, &command_line_options::f, nullptr, &command_line_options::f##_given, h, lo, hi }
#define TEXT(n, l, f, h) \
    { n, l, kind::text, nullptr, &command_line_options::f, &command_line_options::f##_given, h, 0, 0 }

// The usage text explains some options; every other one has a line of its
// own in --help-all.
const option_row option_table[] = {
    {"help", 'h', kind::help, nullptr, nullptr, &command_line_options::help_given, nullptr, 0, 0},
    {"version", 'V', kind::version, nullptr, nullptr, &command_line_options::version_given, nullptr, 0, 0},
    TEXT("device", 'd', device, nullptr),
    TEXT("pcap-file", 'P', pcap_file,
         " -P    --pcap-file <file>       Read a pcap or pcapng file (- for standard input)"),
    TEXT("iptrace-file", 'I', iptrace_file, " -I    --iptrace-file <file>    Read an iptrace 2.0 file (plain or gzip)"),
    TEXT("snoop-file", 'S', snoop_file, " -S    --snoop-file <file>      Read a snoop file (plain or gzip)"),
    TEXT("filter", 'f', filter, nullptr),
    TEXT("filter-nopt", 'F', filter_nopt, " -F    --filter-nopt \"rule\"     Set bpf filter rule, not optimized"),
    FLAG("promisc", 'p', promisc, nullptr),
    INT("snaplen", 's', snaplen, nullptr, 0, INT32_MAX),
    FLAG("beep-on", 0, beep_on, "       --beep-on                Ring the terminal bell before each frame"),
    INT("max-packets", 0, max_packets, nullptr, 0, INT32_MAX),
    FLAG("count", 'c', count, nullptr),
    FLAG("statistic", 0, statistic, nullptr),
    FLAG("verbose", 'v', verbose, nullptr),
    FLAG("expand-ethernet", 0, expand_ethernet, "       --expand-ethernet        Expand the Ethernet header"),
    FLAG("expand-llc", 0, expand_llc, "       --expand-llc             Expand the LLC and SNAP headers"),
    FLAG("expand-token", 0, expand_token, "       --expand-token           Expand the Token Ring header"),
    FLAG("expand-fddi", 0, expand_fddi, "       --expand-fddi            Expand the FDDI header"),
    FLAG("expand-arp", 0, expand_arp, "       --expand-arp             Expand the ARP header"),
    FLAG("expand-pppoe", 0, expand_pppoe, "       --expand-pppoe           Expand the PPPoE header"),
    FLAG("expand-all", 0, expand_all, "       --expand-all             Expand every header"),
    FLAG("daemon", 'D', daemon, nullptr),
    TEXT("logfile", 'l', logfile, nullptr),
    TEXT("logfile-raw", 'r', logfile_raw, nullptr),
    FLAG("calc-checksums", 0, calc_checksums, nullptr),
    FLAG("print-raw-hex", 'R', print_raw_hex, nullptr),
    FLAG("print-ip-hex", 0, print_ip_hex, "       --print-ip-hex           Print IP payload in hex"),
    FLAG("print-tcp-hex", 0, print_tcp_hex, "       --print-tcp-hex          Print TCP payload in hex"),
    FLAG("print-udp-hex", 0, print_udp_hex, "       --print-udp-hex          Print UDP payload in hex"),
    FLAG("print-pppoe-hex", 0, print_pppoe_hex, "       --print-pppoe-hex        Print PPPoE payload in hex"),
    FLAG("print-tcp-text", 0, print_tcp_text, "       --print-tcp-text         Print TCP payload as text"),
    FLAG("print-udp-text", 0, print_udp_text, "       --print-udp-text         Print UDP payload as text"),
    FLAG("print-tcp-stream", 0, print_tcp_stream,
         "       --print-tcp-stream       Collect TCP payload, print it at the end"),
    TEXT("module", 0, module, nullptr),
    TEXT("modules", 0, modules, nullptr),
    FLAG("module-ignore", 0, module_ignore, nullptr),
    TEXT("server-addr", 0, server_addr, nullptr),
    INT("server-port", 0, server_port, nullptr, 1, 65535),
    FLAG("quiet", 0, quiet, "       --quiet                  Print only errors and the statistics report"),
    FLAG("really-quiet", 0, really_quiet, "       --really-quiet           Print nothing at all"),
    FLAG("use-zelklib", 0, use_zelklib,
         "       --use-zelklib            Capture through the own raw socket (needs -d)"),
    INT("bt", 0, bt, "       --bt <num>               Capture from Bluetooth HCI device <num>", 0, 65535),
    TEXT("tcl", 0, tcl, "       --tcl <text>             Accepted, no effect"),
    TEXT("tcl-cbf", 0, tcl_cbf, "       --tcl-cbf <text>         Accepted, no effect"),
    FLAG("json", 0, json, "       --json                   One JSON object per frame (JSON Lines)"),
    FLAG("summary", 0, summary, "       --summary                One summary line per frame"),
    FLAG("list-interfaces", 0, list_interfaces,
         "       --list-interfaces        List the capture devices, numbered, and exit"),
    FLAG("force-overwrite", 0, force_overwrite,
         "       --force-overwrite        Let -r overwrite an existing capture file"),
    TEXT("time-format", 0, time_format, "       --time-format <format>   absolute, date, epoch, relative or delta (-ns: nanoseconds)"),
    FLAG("utc", 0, utc, "       --utc                    absolute and date time stamps in UTC"),
    TEXT("user", 0, user, "       --user <name>            Continue as <name> when started as root"),
    INT("server-timeout", 0, server_timeout,
        "       --server-timeout <sec>   Wait at most <sec> for the server, default 10", 1, INT32_MAX),
    INT("tcp-stream-limit", 0, tcp_stream_limit,
        "       --tcp-stream-limit <n>   Bytes of TCP stream kept, 0: no limit", 0, INT32_MAX),
    TEXT("pid-file", 0, pid_file, "       --pid-file <file>        Daemon pid file, default /var/run/nodrix.pid"),
    INT("jobs", 0, jobs, "       --jobs <n>               Decode a capture file on <n> threads, default one per core",
        1, 256),
    FLAG("immediate", 'U', immediate, "  -U, --immediate               Write each frame as soon as it is decoded"),
    FLAG("no-reassembly", 0, no_reassembly,
         "       --no-reassembly          Decode every frame by itself: no fragment or TCP reassembly"),
    INT("reassembly-memory", 0, reassembly_memory,
        "       --reassembly-memory <MiB> Memory the reassembly tables may hold, default 32", 1, 65536),
    TEXT("range", 0, range, "       --range <start>:<end>    Decode the frames whose records begin at these bytes"),
    INT("index", 0, index, "       --index <n>              Print the byte offset of every <n>-th frame and exit", 1,
        INT32_MAX),
    TEXT("first-frame", 0, first_frame, "       --first-frame <n>        Number of the first frame of a range slice"),
    TEXT("previous-time", 0, previous_time,
         "       --previous-time <s.us>   Time stamp of the frame before a range slice"),
    TEXT("where", 0, where, "       --where <expr>           Show only the frames <expr> is true for (docs/filter.md)"),
    FLAG("absolute-seq", 0, absolute_seq,
         "       --absolute-seq           Summary lines show absolute TCP sequence numbers"),
    INT("buffer-size", 'B', buffer_size,
        "  -B, --buffer-size <MiB>       Kernel capture buffer for a live capture, 1 to 4096", 1, 4096),
    TEXT("stats", 0, stats,
         "       --stats <views>          Tables at the end: conversations,endpoints,protocols,io,..."),
    TEXT("follow", 0, follow,
         "       --follow tcp|udp,<n>     Print the payload of stream <n> (or ADDR:PORT,ADDR:PORT) at the end"),
    TEXT("follow-raw", 0, follow_raw,
         "       --follow-raw <file>      Write the followed stream's payload bytes to <file>"),
    FLAG("statistic-brief", 0, statistic_brief,
         "       --statistic-brief        The statistics report with only the counters not zero, and the capture span"),
    {"help-all", 0, kind::help_all, nullptr, nullptr, &command_line_options::help_all_given,
     "       --help-all               Display this list of every option on stdout", 0, 0},
};

#undef FLAG
#undef INT
#undef TEXT

constexpr int option_count = sizeof option_table / sizeof option_table[0];
static_assert(option_count == 71);

constexpr const char* short_options = "hVd:P:I:S:f:F:ps:cvDl:r:RUB:";
constexpr int long_only_base = 256;

// Integers are read as a leading decimal number; what follows it is
// ignored, as always. Text with no number, a negative number or one out of
// the option's range is refused rather than taken as 0 or wrapped.
int32_t integer_argument(const option_row& row, const char* text) {
    errno = 0;
    char* end = nullptr;
    long value = strtol(text, &end, 10);
    bool number = end != text;
    if (number && errno == 0 && value >= row.minimum && value <= row.maximum) return static_cast<int32_t>(value);
    if (row.letter)
        fprintf(stderr, "%s: `--%s' (`-%c') takes a number from %d to %d, not `%s'\n", "nodrix", row.name, row.letter,
                row.minimum, row.maximum, text);
    else
        fprintf(stderr, "%s: `--%s' takes a number from %d to %d, not `%s'\n", "nodrix", row.name, row.minimum,
                row.maximum, text);
    exit(1);
}

// Letters that mean something else in tcpdump, met by people used to it.
void hint_for_unknown_letter(int letter) {
    const char* hint = nullptr;
    switch (letter) {
        case 'i': hint = "the capture device is named with -d (--device), e.g. -d eth0"; break;
        case 'w': hint = "-r (--logfile-raw) writes the captured frames to a pcap file"; break;
        case 'n': hint = "names are off unless -v (--verbose) is given; nothing to turn off"; break;
        default: return;
    }
    fprintf(stderr, "%s: %s.\n", "nodrix", hint);
}

void free_options(command_line_options* record) {
    for (const auto& row : option_table)
        if (row.text) free(record->*row.text);
    for (unsigned i = 0; i < record->inputs_num; ++i) free(record->inputs[i]);
    free(record->inputs);
}

}  // namespace

int parse_command_line(int argc, char** argv, command_line_options* record) {
    free_options(record);
    *record = command_line_options{};
    record->promisc = 1;

    static option long_table[option_count + 1];
    for (int i = 0; i < option_count; ++i) {
        const option_row& row = option_table[i];
        bool argument = row.type == kind::text || row.type == kind::integer;
        long_table[i] = {row.name, argument ? required_argument : no_argument, nullptr,
                         row.letter ? row.letter : long_only_base + i};
    }
    long_table[option_count] = {nullptr, 0, nullptr, 0};

    optarg = nullptr;
    optind = 0;  // 0 also resets glibc's internal state between calls
    opterr = 1;
    for (;;) {
        int c = getopt_long(argc, argv, short_options, long_table, nullptr);
        if (c == -1) break;
        if (c == '?' || c == ':') {
            if (optopt > 0 && !strchr(short_options, optopt)) hint_for_unknown_letter(optopt);
            exit(1);
        }
        const option_row* row = nullptr;
        for (int i = 0; i < option_count && !row; ++i)
            if ((option_table[i].letter && option_table[i].letter == c) || c == long_only_base + i)
                row = &option_table[i];
        if (!row) exit(1);
        if (record->*row->given) {
            if (row->letter)
                fprintf(stderr, "%s: `--%s' (`-%c') option given more than once\n", "nodrix", row->name, row->letter);
            else
                fprintf(stderr, "%s: `--%s' option given more than once\n", "nodrix", row->name);
            exit(1);
        }
        record->*row->given = 1;
        switch (row->type) {
            case kind::help:
            case kind::help_all:
            case kind::version: return 0;
            case kind::flag: record->*row->value = !(record->*row->value); break;
            case kind::integer: record->*row->value = integer_argument(*row, optarg); break;
            case kind::text: record->*row->text = strdup(optarg); break;
        }
    }
    if (optind < argc) {
        record->inputs_num = static_cast<unsigned>(argc - optind);
        record->inputs = static_cast<char**>(zelk_xcalloc(record->inputs_num, sizeof(char*)));
        for (unsigned i = 0; i < record->inputs_num; ++i) record->inputs[i] = strdup(argv[optind + i]);
    }
    return 0;
}

namespace {

void print_usage(FILE* e, const char* program_path) {
    zelk_fprintf(e, "\n");
    zelk_fprintf(e, "NODRIX v%s\n", version);
    zelk_fprintf(e, "========================================\n");
    zelk_fprintf(e, "Usage: %s [Options]\n", program_path);
    zelk_fprintf(e, " -d    --device <device>\tDevice to open\n");
    zelk_fprintf(e, " -f    --filter \"filter rule\"\tSet bpf filter rule, optimized\n");
    zelk_fprintf(e, " -D    --daemon\t\t\tRun as daemon\n");
    zelk_fprintf(e, " -p    --promisc <0|1>\t\tPromisc mode off(0)/on(1), default on\n");
    zelk_fprintf(e, " -c    --count\t\t\tCount all bytes received\n");
    zelk_fprintf(e, "       --statistic\t\tCount all packets received\n");
    zelk_fprintf(e, " -s    --snaplen <up to 65535>\tSet the snaplen for pcap\n");
    zelk_fprintf(e, "       --max-packets <num>      Maximum packets to receive, default is loop\n");
    zelk_fprintf(e, "       --calc-checksums         Calculate checksums, print correct if wrong\n");
    zelk_fprintf(e, "       --expand-<protocol>      Expand the <protocol> header\n");
    zelk_fprintf(e, " -v    --verbose\t\tPrint out more information\n");
    zelk_fprintf(e, " -l    --logfile <file>\t\tFile to log the packets\n");
    zelk_fprintf(e, " -r    --logfile-raw <file>\tFile to log the packets(raw)\n");
    zelk_fprintf(e, " -R    --print-raw-hex\t\tPrint raw packet in hex\n");
    zelk_fprintf(e, "       --print-<protocol>-hex   Print payload of <protocol> in hex\n");
    zelk_fprintf(e, "       --print-<protocol>-text  Print payload of <protocol> in text\n");
    zelk_fprintf(e, "       --module <file>\t\tLoad shared module <file>\n");
    zelk_fprintf(e, "       --modules <directory>\tLoad all shared modules in <directory>\n");
    zelk_fprintf(e, "       --module-ignore          Ignore the builtin BPF filter of the module\n");
    zelk_fprintf(e, "       --server-addr <ip>\tOpen connection to ZELK server\n");
    zelk_fprintf(e, "       --server-port <port>\tConnect to <port>, default %u\n", default_server_port);
    zelk_fprintf(e, " -h    --help\t\t\tDisplay this help message\n");
    zelk_fprintf(e, " -V    --version\t\tDisplay the version\n");
}

// The usage text and then a line for every option it leaves out, on
// standard output, where a pager or grep can take it.
[[noreturn]] void print_every_option(const char* program_path) {
    print_usage(stdout, program_path);
    zelk_fprintf(stdout, "\nMore options:\n");
    for (const auto& row : option_table)
        if (row.more_help) zelk_fprintf(stdout, "%s\n", row.more_help);
    // A reader that stopped early ("| head") is no failure.
    if (fflush(stdout) == 0 || errno == EPIPE) exit(0);
    fprintf(stderr, "Error: Can't write standard output: %s.\n", strerror(errno));
    exit(1);
}

}  // namespace

void print_help(const char* program_path, const char* message) {
    FILE* e = stderr;
    print_usage(e, program_path);
    if (!message || !*message) exit(0);
    zelk_fprintf(e, "\nError: %s\n", message);
    exit(1);
}

void print_version() {
    const char* lib = pcap_lib_version();
    const char* prefix = "libpcap version ";
    if (strncmp(lib, prefix, strlen(prefix)) == 0) lib += strlen(prefix);
    zelk_fprintf(stderr, "NODRIX version %s - network packet capture and protocol decoder\n", version);
    zelk_fprintf(stderr, "Compiled with zelklib version %d.%d%d, libpcap version %s.\n", 0, 0, 6, lib);
    exit(0);
}

namespace {

// A capture read from standard input or a FIFO: a writer such as
// `tcpdump -U -w -` hands over frames as they come.
bool reads_a_pipe(const run_settings& s) {
    const char* path = s.pcap_file ? s.pcap_file : s.iptrace_file ? s.iptrace_file : s.snoop_file;
    if (!path) return false;
    if (strcmp(path, "-") == 0) return true;
    struct stat st {};
    return stat(path, &st) == 0 && S_ISFIFO(st.st_mode);
}

// Someone reads the output as it comes: a terminal or a pipe.
bool watched_output() {
    struct stat st {};
    return isatty(STDOUT_FILENO) || (fstat(STDOUT_FILENO, &st) == 0 && S_ISFIFO(st.st_mode));
}

}  // namespace

void apply_command_line(char** argv) {
    command_line_options& o = options;
    if (o.help_given) print_help(argv[0], "");
    if (o.help_all_given) print_every_option(argv[0]);
    if (o.version_given) print_version();
    if (o.quiet_given) zelk_set_quiet();
    if (o.really_quiet_given) zelk_set_really_quiet();
    if (!o.max_packets_given) o.max_packets = -1;
    if (!o.server_port_given) o.server_port = default_server_port;
    if (o.snaplen > 65535) {
        zelk_printf("Error: Snaplen(%u) is to big, changed it to max(65535).\n", static_cast<unsigned>(o.snaplen));
        o.snaplen = 65535;
    } else if (!o.snaplen_given) {
        o.snaplen = 65535;
    }

    run_settings& s = settings;
    s = run_settings{};
    s.beep_on = o.beep_on_given;
    s.count = o.count_given;
    s.statistic = o.statistic_given || o.statistic_brief_given;
    s.verbose = o.verbose_given;
    s.expand_ethernet = o.expand_ethernet_given;
    s.expand_llc = o.expand_llc_given;
    s.expand_token = o.expand_token_given;
    s.expand_fddi = o.expand_fddi_given;
    s.expand_arp = o.expand_arp_given;
    s.expand_pppoe = o.expand_pppoe_given;
    s.expand_all = o.expand_all_given;
    s.daemon = o.daemon_given;
    s.calc_checksums = o.calc_checksums_given;
    s.print_raw_hex = o.print_raw_hex_given;
    s.print_ip_hex = o.print_ip_hex_given;
    s.print_tcp_hex = o.print_tcp_hex_given;
    s.print_udp_hex = o.print_udp_hex_given;
    s.print_pppoe_hex = o.print_pppoe_hex_given;
    s.print_tcp_text = o.print_tcp_text_given;
    s.print_udp_text = o.print_udp_text_given;
    s.print_tcp_stream = o.print_tcp_stream_given;
    s.use_zelklib = o.use_zelklib_given;
    s.bt = o.bt_given;
    s.logfile = o.logfile_given ? o.logfile : nullptr;
    s.logfile_raw = o.logfile_raw_given ? o.logfile_raw : nullptr;
    s.device = o.device_given ? o.device : nullptr;
    s.pcap_file = o.pcap_file_given ? o.pcap_file : nullptr;
    s.iptrace_file = o.iptrace_file_given ? o.iptrace_file : nullptr;
    s.snoop_file = o.snoop_file_given ? o.snoop_file : nullptr;
    s.server_addr = o.server_addr_given ? o.server_addr : nullptr;
    s.module = o.module_given ? o.module : nullptr;
    s.optimize_filter = o.filter_given ? 1 : 0;
    s.json = o.json_given;
    s.summary = o.summary_given;
    s.record_fields = s.json || s.summary;
    // JSON Lines own standard output: nothing but the objects goes there.
    if (s.json && !o.summary_given) zelk_set_text_suppressed(true);
    s.list_interfaces = o.list_interfaces_given;
    s.force_overwrite = o.force_overwrite_given;
    s.utc = o.utc_given;
    if (o.time_format_given) {
        static const struct {
            const char* name;
            frame_time_format format;
        } formats[] = {
            {"absolute", frame_time_format::absolute}, {"date", frame_time_format::date},
            {"epoch", frame_time_format::epoch},       {"relative", frame_time_format::relative},
            {"delta", frame_time_format::delta},
        };
        // Each format has a nanosecond form: the name with "-ns".
        size_t length = strlen(o.time_format);
        s.time_nanoseconds = length > 3 && strcmp(o.time_format + length - 3, "-ns") == 0;
        if (s.time_nanoseconds) length -= 3;
        bool known = false;
        for (const auto& f : formats) {
            if (strlen(f.name) == length && strncmp(o.time_format, f.name, length) == 0) {
                s.time_format = f.format;
                known = true;
            }
        }
        if (!known)
            print_help(argv[0], "--time-format takes absolute, date, epoch, relative or delta, each also with -ns.");
    }
    s.user = o.user_given ? o.user : nullptr;
    s.pid_file = o.pid_file_given ? o.pid_file : pid_file_path;
    s.server_timeout = o.server_timeout_given ? o.server_timeout : default_server_timeout;
    s.tcp_stream_limit =
        o.tcp_stream_limit_given ? static_cast<uint64_t>(o.tcp_stream_limit) : default_tcp_stream_limit;
    s.jobs = o.jobs_given ? static_cast<unsigned>(o.jobs) : 0;
    s.no_reassembly = o.no_reassembly_given;
    s.reassembly_memory = o.reassembly_memory_given ? static_cast<uint64_t>(o.reassembly_memory) << 20 : 0;
    s.immediate = o.immediate_given || (reads_a_pipe(s) && watched_output());
    s.where = o.where_given ? o.where : nullptr;
    s.absolute_seq = o.absolute_seq_given;
    s.buffer_size = o.buffer_size_given ? static_cast<unsigned>(o.buffer_size) : 0;
}

void check_option_combinations(char** argv) {
    const command_line_options& o = options;
    if (o.filter_given && o.filter_nopt_given) print_help(argv[0], "Use only optimized or not optimized filter rules.");
    if (o.device_given && (o.pcap_file_given || o.iptrace_file_given || o.snoop_file_given))
        print_help(argv[0], "Don't use -d and -P | -I together.");
    if (o.use_zelklib_given && (o.pcap_file_given || o.filter_given))
        print_help(argv[0], "Currently not supported by ZELKLib.");
    if (o.use_zelklib_given && !o.device_given) print_help(argv[0], "Please enter a device to use.");
    if (o.json_given && o.summary_given) {
        zelk_set_text_suppressed(false);
        fprintf(stderr, "Error: --json and --summary cannot be used together; choose one output.\n");
        exit(1);
    }
    if (o.user_given && !*o.user) print_help(argv[0], "Please name a user for --user.");
    if (o.pid_file_given && !*o.pid_file) print_help(argv[0], "Please name a file for --pid-file.");
}
