// Test helpers: bytes from hex, decoder output capture, pcap files and
// running the built program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/frame.h"

namespace test {

using bytes = std::vector<uint8_t>;

// Bytes from hex text; blanks, ':' and '|' may separate groups.
bytes hex(const std::string& text);
bytes concat(std::initializer_list<bytes> parts);
// RFC 1071 checksum of the bytes, as the field reads in network order.
uint16_t inet_checksum(const bytes& data);
void put_be16(bytes& b, size_t at, uint16_t v);

// Resets settings, counters and capture state for a decoder test; each
// flag is a long option name without the dashes ("verbose", "expand-all").
void reset(std::initializer_list<const char*> flags = {});

// Runs a link decoder on one frame (captured = all bytes unless given)
// the way a capture source does, and returns what it printed.
std::string decode(link_decoder decoder, const bytes& frame, unsigned link_header_length = 0, long captured = -1,
                   long wire = -1);
// The same through the structured writers: reset({"json"}) or
// reset({"summary"}) first. Returns the frame's JSON line or summary line
// (the time stamp is 12:34:56 UTC).
std::string decode_record(link_decoder decoder, const bytes& frame, unsigned link_header_length = 0, long captured = -1,
                          long wire = -1);
// True when text is one JSON value (RFC 8259) and nothing else.
bool valid_json(const std::string& text);
// Decodes every captured prefix of the frame (wire length: the whole frame)
// with reset({"json"}); returns "" when every line is valid JSON, else the
// prefix length and the first line that is not.
std::string invalid_json_prefix(link_decoder decoder, const bytes& frame, unsigned link_header_length = 0);
// Runs the built nodrix with args, standard output and error into files,
// and measures the peak resident set of that run alone. (A child's peak
// otherwise starts at its parent's: this test process may have grown
// large, under the sanitizer above all.)
struct measured_run {
    int status = -1;  // exit status, or 128 + signal
    long peak_kib = -1;
};
measured_run run_measured(const std::vector<std::string>& args, const std::string& out_path,
                          const std::string& err_path);
// The whole records of a pcap file's bytes; -1 when the header or a record
// is cut (an empty file holds none).
long pcap_records(const bytes& file);
// Captures what fn prints through zelk_printf.
template <typename F>
std::string capture_output(F fn);
std::string capture_output_impl(void (*fn)(void*), void* context);
template <typename F>
std::string capture_output(F fn) {
    return capture_output_impl([](void* c) { (*static_cast<F*>(c))(); }, &fn);
}

struct pcap_record {
    bytes data;
    uint32_t seconds = 45296;  // 12:34:56 UTC
    uint32_t microseconds = 0;
    long wire = -1;      // default: data.size()
    long captured = -1;  // default: data.size()
};
// A classic little-endian pcap file.
bytes pcap_file(const std::vector<pcap_record>& records, uint32_t link_type = 1, uint32_t snaplen = 65535);

// A fresh temporary directory, removed by the destructor.
struct temp_dir {
    std::string path;
    temp_dir();
    ~temp_dir();
    std::string file(const std::string& name) const { return path + "/" + name; }
};
void write_file(const std::string& path, const bytes& data);
bytes read_file(const std::string& path);

struct run_result {
    int status;  // exit status, or 128 + signal
    std::string out;
    std::string err;
};
struct running_nodrix {
    int pid;
    int out_fd;
    int err_fd;
    std::string early_out;  // standard output read by wait_for_output
};
// Reads the child's standard output until it holds `text`; false on timeout.
bool wait_for_output(running_nodrix& child, const std::string& text, int timeout_seconds = 20);
// Waits until a live capture has started: its socket is open before the
// filter line is flushed, and the kernel gets a moment more.
bool wait_for_capture_start(running_nodrix& child);
// Starts the built nodrix in the background; finish_nodrix collects its
// output and waits for it (killing it after the timeout).
running_nodrix start_nodrix(const std::vector<std::string>& args);
run_result finish_nodrix(running_nodrix& child, int timeout_seconds = 30);
// Runs the built nodrix with args (argv[0] is "nodrix"); stdin from /dev/null.
run_result run_nodrix(const std::vector<std::string>& args, int timeout_seconds = 30);
// Runs a shell command line; its exit status (128 + signal) and standard output.
run_result shell(const std::string& command);

// The frame line of the pcap source for frame n.
std::string frame_line(unsigned n, unsigned captured, unsigned wire, uint32_t seconds = 45296,
                       unsigned microseconds = 0);

bool running_as_root();
// A UDP port on the loopback address that nothing listens on right now.
uint16_t free_udp_port();
// Sends one UDP datagram to 127.0.0.1:port; true when all of it went out.
bool send_loopback_udp(uint16_t port, const std::string& payload);

}  // namespace test

namespace test {
// Decodes every prefix of the frame (captured length 0 to full, with the
// full length as wire length, then as a whole frame) so that the sanitizer
// build catches any read past the captured bytes; returns the number of
// decodes that ended in the truncation marker.
int decode_all_prefixes(link_decoder decoder, const bytes& frame, unsigned link_header_length = 0);
}  // namespace test

namespace test {
// Held by every test that runs nodrix as a daemon: they all share
// /var/run/nodrix.pid, and ctest runs tests in parallel.
struct pid_file_lock {
    int fd;
    pid_file_lock();
    ~pid_file_lock();
    pid_file_lock(const pid_file_lock&) = delete;
    pid_file_lock& operator=(const pid_file_lock&) = delete;
};
}  // namespace test
