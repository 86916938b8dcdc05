#include "support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "decode/context.h"
#include "decode/decoder.h"
#include "driver/settings.h"
#include "json_check.h"
#include "output/record.h"
#include "output/tcp_stream.h"
#include "pipeline/frame_loop.h"
#include "stats/counters.h"
#include "zelk.h"

namespace test {

bytes hex(const std::string& text) {
    bytes out;
    int high = -1;
    for (char c : text) {
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else
            continue;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    if (high >= 0) throw std::invalid_argument("odd number of hex digits");
    return out;
}

bytes concat(std::initializer_list<bytes> parts) {
    bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

uint16_t inet_checksum(const bytes& data) {
    uint32_t sum = 0;
    for (size_t i = 0; i < data.size(); i += 2) {
        uint32_t word = uint32_t{data[i]} << 8;
        if (i + 1 < data.size()) word |= data[i + 1];
        sum += word;
    }
    while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

void put_be16(bytes& b, size_t at, uint16_t v) {
    b.at(at) = static_cast<uint8_t>(v >> 8);
    b.at(at + 1) = static_cast<uint8_t>(v);
}

void reset(std::initializer_list<const char*> flags) {
    settings = run_settings{};
    counters = protocol_counters{};
    // Fragments held by an earlier test must not complete a later one's.
    frame_loop_main_context().reassembly = reassembly_tables{};
    frame_loop_main_context().quic_ids = quic_connection_table{};
    frame_loop_main_context().sessions.reset();
    capture = capture_state_record{};
    zelk_clear_quiet();
    zelk_clear_really_quiet();
    zelk_set_text_suppressed(false);
    frame_loop_main_context().tcp_directions.reset();
    for (const char* f : flags) {
        std::string n = f;
        if (n == "json")
            settings.json = settings.record_fields = true;
        else if (n == "summary")
            settings.summary = settings.record_fields = true;
        else if (n == "absolute-seq")
            settings.absolute_seq = true;
        else if (n == "verbose")
            settings.verbose = true;
        else if (n == "statistic")
            settings.statistic = true;
        else if (n == "calc-checksums")
            settings.calc_checksums = true;
        else if (n == "expand-all")
            settings.expand_all = true;
        else if (n == "expand-ethernet")
            settings.expand_ethernet = true;
        else if (n == "expand-llc")
            settings.expand_llc = true;
        else if (n == "expand-token")
            settings.expand_token = true;
        else if (n == "expand-fddi")
            settings.expand_fddi = true;
        else if (n == "expand-arp")
            settings.expand_arp = true;
        else if (n == "expand-pppoe")
            settings.expand_pppoe = true;
        else if (n == "print-raw-hex")
            settings.print_raw_hex = true;
        else if (n == "print-ip-hex")
            settings.print_ip_hex = true;
        else if (n == "print-tcp-hex")
            settings.print_tcp_hex = true;
        else if (n == "print-udp-hex")
            settings.print_udp_hex = true;
        else if (n == "print-pppoe-hex")
            settings.print_pppoe_hex = true;
        else if (n == "print-tcp-text")
            settings.print_tcp_text = true;
        else if (n == "print-udp-text")
            settings.print_udp_text = true;
        else if (n == "print-tcp-stream")
            settings.print_tcp_stream = true;
        else
            throw std::invalid_argument("unknown flag " + n);
    }
}

std::string capture_output_impl(void (*fn)(void*), void* context) {
    char* buffer = nullptr;
    size_t size = 0;
    FILE* stream = open_memstream(&buffer, &size);
    zelk_set_output(stream);
    try {
        fn(context);
    } catch (...) {
        zelk_set_output(nullptr);
        fclose(stream);
        free(buffer);
        throw;
    }
    zelk_set_output(nullptr);
    fclose(stream);
    std::string out(buffer, size);
    free(buffer);
    return out;
}

std::string decode(link_decoder decoder, const bytes& frame, unsigned link_header_length, long captured, long wire) {
    capture.link_header_length = link_header_length;
    uint32_t cap = captured < 0 ? static_cast<uint32_t>(frame.size()) : static_cast<uint32_t>(captured);
    uint32_t wir = wire < 0 ? static_cast<uint32_t>(frame.size()) : static_cast<uint32_t>(wire);
    // A private copy of exactly the captured bytes, so that the sanitizer
    // catches any read past them.
    std::vector<uint8_t>* copy =
        new std::vector<uint8_t>(frame.begin(), frame.begin() + std::min<size_t>(cap, frame.size()));
    uint8_t* data = copy->empty() ? nullptr : copy->data();
    std::string out = capture_output([&] {
        frame_lengths lengths{cap, wir};
        uint8_t empty = 0;
        decode_context& cx = frame_loop_main_context();
        cx.link_header_length = link_header_length;
        decode_frame(cx, decoder, &lengths, data ? data : &empty);
        for (const tcp_stream_piece& piece : cx.stream_pieces) collect_tcp_stream_piece(piece);
        cx.stream_pieces.clear();
        frame_loop_drain();
    });
    delete copy;
    return out;
}

std::string decode_record(link_decoder decoder, const bytes& frame, unsigned link_header_length, long captured,
                          long wire) {
    capture.link_header_length = link_header_length;
    uint32_t cap = captured < 0 ? static_cast<uint32_t>(frame.size()) : static_cast<uint32_t>(captured);
    uint32_t wir = wire < 0 ? static_cast<uint32_t>(frame.size()) : static_cast<uint32_t>(wire);
    std::vector<uint8_t> copy(frame.begin(), frame.begin() + std::min<size_t>(cap, frame.size()));
    uint8_t empty = 0;
    std::string out = capture_output([&] {
        capture.frame_counter = 1;
        decode_context& cx = frame_loop_main_context();
        cx.frame_number = 1;
        begin_frame(cx, 45296, 0, cap, wir);
        frame_lengths lengths{cap, wir};
        cx.link_header_length = link_header_length;
        decode_frame(cx, decoder, &lengths, copy.empty() ? &empty : copy.data());
        end_frame(cx);
        frame_loop_drain();
    });
    zelk_set_text_suppressed(false);
    return out;
}

bool valid_json(const std::string& text) { return json_text_is_valid(text); }

std::string invalid_json_prefix(link_decoder decoder, const bytes& frame, unsigned link_header_length) {
    reset({"json"});
    for (size_t n = 0; n <= frame.size(); ++n) {
        std::string line =
            decode_record(decoder, frame, link_header_length, static_cast<long>(n), static_cast<long>(frame.size()));
        if (!valid_json(line)) return std::to_string(n) + ": " + line;
    }
    return "";
}

measured_run run_measured(const std::vector<std::string>& args, const std::string& out_path,
                          const std::string& err_path) {
    // A small python process starts nodrix as its only child and reports
    // that child's peak.
    std::string command =
        "python3 -c 'import resource, subprocess, sys; "
        "r = subprocess.run(sys.argv[3:], stdin=subprocess.DEVNULL, stdout=open(sys.argv[1], \"wb\"), "
        "stderr=open(sys.argv[2], \"wb\")).returncode; "
        "print(r if r >= 0 else 128 - r, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)'";
    for (const std::string& a : std::vector<std::string>{out_path, err_path, NODRIX_BINARY}) command += " '" + a + "'";
    for (const auto& a : args) command += " '" + a + "'";
    measured_run result;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return result;
    if (fscanf(p, "%d %ld", &result.status, &result.peak_kib) != 2) result = measured_run{};
    pclose(p);
    return result;
}

long pcap_records(const bytes& file) {
    if (file.size() < 24) return file.empty() ? 0 : -1;
    size_t at = 24;
    long n = 0;
    while (at < file.size()) {
        if (file.size() - at < 16) return -1;
        uint32_t captured = file[at + 8] | file[at + 9] << 8 | file[at + 10] << 16 | uint32_t{file[at + 11]} << 24;
        at += 16;
        if (file.size() - at < captured) return -1;
        at += captured;
        ++n;
    }
    return n;
}

bytes pcap_file(const std::vector<pcap_record>& records, uint32_t link_type, uint32_t snaplen) {
    bytes out;
    auto le32 = [&out](uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    auto le16 = [&out](uint16_t v) {
        out.push_back(static_cast<uint8_t>(v));
        out.push_back(static_cast<uint8_t>(v >> 8));
    };
    le32(0xa1b2c3d4);
    le16(2);
    le16(4);
    le32(0);
    le32(0);
    le32(snaplen);
    le32(link_type);
    for (const auto& r : records) {
        uint32_t cap = r.captured < 0 ? static_cast<uint32_t>(r.data.size()) : static_cast<uint32_t>(r.captured);
        uint32_t wire = r.wire < 0 ? static_cast<uint32_t>(r.data.size()) : static_cast<uint32_t>(r.wire);
        le32(r.seconds);
        le32(r.microseconds);
        le32(cap);
        le32(wire);
        out.insert(out.end(), r.data.begin(), r.data.begin() + cap);
    }
    return out;
}

temp_dir::temp_dir() {
    char templ[] = "/tmp/nodrix-test-XXXXXX";
    if (!mkdtemp(templ)) throw std::runtime_error("mkdtemp failed");
    path = templ;
}

temp_dir::~temp_dir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

void write_file(const std::string& path, const bytes& data) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

bytes read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// With NODRIX_KEEP_CAPTURES set to a directory, every capture file a test
// hands to nodrix is kept there (named by its content), so that the JSON
// schema check can run over all of them after the tests.
void keep_captures(const std::vector<std::string>& args) {
    const char* dir = getenv("NODRIX_KEEP_CAPTURES");
    if (!dir || !*dir) return;
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        const std::string& flag = args[i];
        if (flag != "-P" && flag != "-I" && flag != "-S") continue;
        // Only plain files: a test may hand over a FIFO that a read would
        // block on, or a device.
        std::error_code error;
        if (!std::filesystem::is_regular_file(args[i + 1], error) ||
            std::filesystem::file_size(args[i + 1], error) > (64u << 20))
            continue;
        std::ifstream in(args[i + 1], std::ios::binary);
        if (!in) continue;
        std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        uint64_t h = 1469598103934665603ULL;
        for (unsigned char c : content) h = (h ^ c) * 1099511628211ULL;
        char name[32];
        snprintf(name, sizeof name, "%016llx%s", static_cast<unsigned long long>(h), flag.c_str());
        std::filesystem::create_directories(dir);
        std::ofstream(std::string(dir) + "/" + name, std::ios::binary) << content;
    }
}

running_nodrix start_nodrix(const std::vector<std::string>& args) {
    keep_captures(args);
    int out_pipe[2], err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) throw std::runtime_error("pipe failed");
    pid_t pid = fork();
    if (pid == 0) {
        int null_fd = open("/dev/null", O_RDONLY);
        dup2(null_fd, 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        close(out_pipe[0]);
        close(err_pipe[0]);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>("nodrix"));
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        setenv("TZ", "UTC", 1);
        execv(NODRIX_BINARY, argv.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    return {pid, out_pipe[0], err_pipe[0], {}};
}

bool wait_for_output(running_nodrix& child, const std::string& text, int timeout_seconds) {
    time_t deadline = time(nullptr) + timeout_seconds;
    while (child.early_out.find(text) == std::string::npos) {
        int left = static_cast<int>(deadline - time(nullptr));
        if (left <= 0) return false;
        pollfd p{child.out_fd, POLLIN, 0};
        if (poll(&p, 1, left * 1000) <= 0) continue;
        char buf[4096];
        ssize_t n = read(child.out_fd, buf, sizeof buf);
        if (n <= 0) return false;
        child.early_out.append(buf, static_cast<size_t>(n));
    }
    return true;
}

run_result finish_nodrix(running_nodrix& child, int timeout_seconds) {
    run_result r{};
    r.out = child.early_out;
    pollfd fds[2] = {{child.out_fd, POLLIN, 0}, {child.err_fd, POLLIN, 0}};
    int open_fds = 2;
    time_t deadline = time(nullptr) + timeout_seconds;
    while (open_fds > 0) {
        int left = static_cast<int>(deadline - time(nullptr));
        if (left <= 0) {
            kill(child.pid, SIGKILL);
            break;
        }
        if (poll(fds, 2, left * 1000) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buf[65536];
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_fds;
            } else {
                (i == 0 ? r.out : r.err).append(buf, static_cast<size_t>(n));
            }
        }
    }
    for (auto& f : fds)
        if (f.fd >= 0) close(f.fd);
    int status = 0;
    waitpid(child.pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

run_result run_nodrix(const std::vector<std::string>& args, int timeout_seconds) {
    running_nodrix child = start_nodrix(args);
    return finish_nodrix(child, timeout_seconds);
}

std::string frame_line(unsigned n, unsigned captured, unsigned wire, uint32_t seconds, unsigned microseconds) {
    uint32_t t = (seconds + n - 1) % 86400;
    char buf[128];
    snprintf(buf, sizeof buf, "\n%02u:%02u:%02u.%06u - Received frame %u(%u/%u bytes length)...\n", t / 3600,
             t % 3600 / 60, t % 60, microseconds, n, captured, wire);
    return buf;
}

bool running_as_root() { return geteuid() == 0; }

uint16_t free_udp_port() {
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
    close(s);
    return ntohs(a.sin_port);
}

bool send_loopback_udp(uint16_t port, const std::string& payload) {
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ssize_t sent = sendto(s, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    close(s);
    return sent == static_cast<ssize_t>(payload.size());
}

bool wait_for_capture_start(running_nodrix& child) {
    if (!wait_for_output(child, "Filter rule: ")) return false;
    usleep(200000);
    return true;
}

}  // namespace test

namespace test {
int decode_all_prefixes(link_decoder decoder, const bytes& frame, unsigned link_header_length) {
    int markers = 0;
    for (size_t n = 0; n <= frame.size(); ++n) {
        bytes prefix(frame.begin(), frame.begin() + static_cast<long>(n));
        std::string a =
            decode(decoder, prefix, link_header_length, static_cast<long>(n), static_cast<long>(frame.size()));
        std::string b = decode(decoder, prefix, link_header_length);
        markers += a.find("[truncated:") != std::string::npos;
        markers += b.find("[malformed:") != std::string::npos;
    }
    return markers;
}
}  // namespace test

namespace test {
pid_file_lock::pid_file_lock() : fd(open("/tmp/nodrix-test-pid-file.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
    if (fd >= 0) flock(fd, LOCK_EX);
}
pid_file_lock::~pid_file_lock() {
    if (fd >= 0) close(fd);
}
}  // namespace test

namespace test {

run_result shell(const std::string& command) {
    run_result r{-1, "", ""};
    FILE* p = popen(command.c_str(), "r");
    if (!p) return r;
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) r.out.append(buffer, n);
    int status = pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

}  // namespace test
