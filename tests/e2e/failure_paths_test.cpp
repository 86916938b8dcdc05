// How runs end when something goes wrong: a stop signal while the reader
// takes nothing, a FIFO raw log whose reader leaves, failures under every
// output mode, damaged gzip input, and fatal signals, which must not lose
// the frames already decoded.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <thread>

#include "capture/trace_files.h"
#include "decode/link/ethernet.h"
#include "json_check.h"
#include "support.h"
#include "vendor_table.h"
#include "zelk.h"

namespace {

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

// Frames with an EtherType nodrix does not decode: each prints little
// besides its frame line, and every one is the same length.
test::bytes capture_of(unsigned frames) {
    test::bytes frame = test::hex("020000000002 020000000001 88b5");
    frame.resize(60, 0x5a);
    return test::pcap_file(std::vector<test::pcap_record>(frames, test::pcap_record{frame}));
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Waits up to `limit` for the child; its status (128 + signal), or -1
// when it still runs (it is then killed).
int wait_within(pid_t pid, std::chrono::milliseconds limit) {
    auto deadline = clock_type::now() + limit;
    int status = 0;
    while (clock_type::now() < deadline) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(20ms);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

// Starts nodrix with the three descriptors as its standard streams.
pid_t spawn(const std::vector<std::string>& args, int in, int out, int err) {
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> argv{const_cast<char*>("nodrix")};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        setenv("TZ", "UTC", 1);
        execv(NODRIX_BINARY, argv.data());
        _exit(127);
    }
    return pid;
}

TEST(FailurePaths, StopSignalsEndARunWhoseReaderTakesNothing) {
    test::temp_dir dir;
    std::string input = dir.file("in.pcap");
    test::write_file(input, capture_of(50000));
    const struct {
        int sig;
        std::vector<std::string> mode;
    } cases[] = {
        {SIGTERM, {"--json"}},
        {SIGINT, {}},
        {SIGHUP, {"--summary"}},
        {SIGTERM, {"--jobs", "1"}},
        {SIGINT, {"--json", "--jobs", "1"}},
    };
    for (const auto& c : cases) {
        std::string raw = dir.file("raw" + std::to_string(&c - cases) + ".pcap");
        std::vector<std::string> args{"-P", input, "-r", raw};
        args.insert(args.end(), c.mode.begin(), c.mode.end());
        SCOPED_TRACE(testing::PrintToString(args) + " signal " + std::to_string(c.sig));
        int out[2];
        ASSERT_EQ(pipe(out), 0);
        int null_in = open("/dev/null", O_RDONLY);
        int err = open(dir.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        pid_t pid = spawn(args, null_in, out[1], err);
        close(out[1]);
        close(null_in);
        close(err);
        // The pipe fills and the writer blocks; nobody will ever read it.
        std::this_thread::sleep_for(700ms);
        kill(pid, c.sig);
        EXPECT_EQ(wait_within(pid, 5s), 0) << "the run did not end after the signal";
        close(out[0]);
        // The raw log was closed in order: whole records only.
        EXPECT_GE(test::pcap_records(test::read_file(raw)), 0);
    }
}

TEST(FailurePaths, AFifoRawLogWhoseReaderLeavesEndsTheRunQuietly) {
    test::temp_dir dir;
    std::string input = dir.file("in.pcap");
    test::write_file(input, capture_of(20000));
    std::string fifo = dir.file("raw.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // A reader that takes the file header and a few records, then leaves.
    ASSERT_EQ(test::shell("(head -c 300 " + fifo + " >/dev/null &)").status, 0);
    auto r = test::run_nodrix({"-P", input, "-r", fifo, "--json"}, 20);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("Error"), std::string::npos) << r.err;
    EXPECT_LT(lines_of(r.out).size(), 20000u);
}

// Any failure says why on standard error, whatever goes to standard output.
TEST(FailurePaths, EveryFailureSaysWhyInEveryOutputMode) {
    test::temp_dir dir;
    std::string good = dir.file("good.pcap");
    test::write_file(good, capture_of(3));
    std::string bad_magic = dir.file("bad_magic");
    test::write_file(bad_magic, test::bytes(64, 0x42));
    std::string cut = dir.file("cut.pcap");
    test::bytes cut_bytes = capture_of(3);
    cut_bytes.resize(cut_bytes.size() - 10);
    test::write_file(cut, cut_bytes);
    const std::vector<std::string> cases[] = {
        {"-S", bad_magic},
        {"-S", "/nonexistent/in.snoop"},
        {"-I", bad_magic},
        {"-I", "/nonexistent/in.iptrace"},
        {"-P", bad_magic},
        {"-P", "/nonexistent/in.pcap"},
        {"-P", cut},
        {"-P", good, "-r", "/nonexistent/raw.pcap"},
        {"-P", good, "--where", "ipv4.ttl =="},
    };
    const std::vector<std::string> modes[] = {{}, {"--json"}, {"--summary"}, {"--quiet"}, {"--json", "--quiet"}};
    for (const auto& c : cases) {
        for (const auto& mode : modes) {
            std::vector<std::string> args = c;
            args.insert(args.end(), mode.begin(), mode.end());
            SCOPED_TRACE(testing::PrintToString(args));
            auto r = test::run_nodrix(args);
            EXPECT_EQ(r.status, 1);
            bool said = r.err.find("rror") != std::string::npos || r.err.find("nodrix: ") != std::string::npos;
            // The text mode may say it on standard output, as it always did;
            // summary lines and JSON Lines leave standard output to frames.
            if (mode.empty())
                said = said || r.out.find("rror") != std::string::npos || r.out.find("Unknown") != std::string::npos;
            else
                EXPECT_EQ(r.out.find("rror"), std::string::npos) << r.out;
            EXPECT_TRUE(said) << "out: " << r.out << "\nerr: " << r.err;
        }
    }
}

TEST(FailurePaths, ADaemonThatCannotStartSaysWhy) {
    if (!test::running_as_root()) GTEST_SKIP() << "a daemon's pid file needs root";
    test::pid_file_lock lock;
    test::temp_dir dir;
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"-D", "-P", "/nonexistent/in.pcap"}, {"-D", "-S", "/nonexistent/in.snoop"}}) {
        SCOPED_TRACE(testing::PrintToString(args));
        auto r = test::run_nodrix(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("rror"), std::string::npos) << r.err;
    }
}

test::bytes gzip(const test::bytes& data) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
    test::bytes out(deflateBound(&z, data.size()) + 64);
    z.next_in = const_cast<uint8_t*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// A capture of `frames` equal frames as a pcap, iptrace or snoop file, and
// where its record `at` begins.
struct capture_file {
    const char* option;
    test::bytes data;
    size_t record_at(unsigned at) const { return head + at * record; }
    size_t head, record;
};
capture_file capture_file_of(const char* option, unsigned frames) {
    test::bytes frame = trace::ethernet_frame();
    test::bytes head, record;
    if (option == std::string("-P")) {
        head = test::pcap_file({});
        test::bytes one = capture_of(1);
        record.assign(one.begin() + static_cast<long>(head.size()), one.end());
    } else if (option == std::string("-I")) {
        head = trace::iptrace_file({});
        record = trace::iptrace_record(frame);
    } else {
        head = trace::snoop_file({});
        record = trace::snoop_record(frame);
    }
    capture_file f{option, head, head.size(), record.size()};
    for (unsigned i = 0; i < frames; ++i) f.data.insert(f.data.end(), record.begin(), record.end());
    return f;
}

// Damaged gzip input of every kind of capture file: every frame inflated
// before the damage comes out, then zlib's reason in one message, status 1.
TEST(FailurePaths, DamagedGzipKeepsEveryFrameBeforeTheDamageAndSaysWhy) {
    test::temp_dir dir;
    constexpr unsigned frames = 3000, first_member = 1000;
    const struct {
        const char* name;
        size_t flipped;      // the byte flipped, from the end (0: none)
        size_t cut;          // bytes cut off the end
        bool two_members;    // the second member's header is damaged
        unsigned expected;   // frames that come out
        const char* reason;  // zlib's words
    } damages[] = {
        {"the check value", 8, 0, false, frames, "incorrect data check"},
        {"the length in the trailer", 2, 0, false, frames, "incorrect length check"},
        {"a stream cut in its trailer", 0, 4, false, frames, "unexpected end of file"},
        {"a damaged second member", 0, 0, true, first_member, "unknown compression method"},
    };
    for (const char* option : {"-P", "-I", "-S"}) {
        capture_file file = capture_file_of(option, frames);
        for (const auto& d : damages) {
            SCOPED_TRACE(std::string(option) + ": " + d.name);
            test::bytes packed;
            if (d.two_members) {
                size_t split = file.record_at(first_member);
                packed = gzip(test::bytes(file.data.begin(), file.data.begin() + static_cast<long>(split)));
                test::bytes second = gzip(test::bytes(file.data.begin() + static_cast<long>(split), file.data.end()));
                second[2] = 7;  // the compression method
                packed.insert(packed.end(), second.begin(), second.end());
            } else {
                packed = gzip(file.data);
                if (d.flipped) packed[packed.size() - d.flipped] ^= 0xff;
                packed.resize(packed.size() - d.cut);
            }
            std::string path = dir.file("capture.gz");
            test::write_file(path, packed);
            auto r = test::run_nodrix({option, path, "--json"});
            EXPECT_EQ(r.status, 1);
            size_t frame_lines = 0;
            for (const auto& line : lines_of(r.out)) frame_lines += line.starts_with("{\"frame\"");
            EXPECT_EQ(frame_lines, d.expected);
            EXPECT_NE(r.err.find(std::string("Error: error reading dump file: gzip data: ") + d.reason + ".\n"),
                      std::string::npos)
                << r.err;
        }
    }
}

// Vendor names with letters beyond ASCII come out in JSON as the same
// UTF-8 text, not as one escape per byte.
TEST(FailurePaths, VendorNamesKeepTheirLettersInJson) {
    const uint8_t* oui = nullptr;
    std::string name;
    for (size_t i = 0; i < vendor_table_size && !oui; ++i) {
        std::string text = zelk_vendor_name(vendor_table[i].oui);
        if (std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
            oui = vendor_table[i].oui;
            name = text.substr(0, text.find_last_not_of(' ') + 1);
        }
    }
    if (!oui) GTEST_SKIP() << "the vendor table holds no name beyond ASCII";
    test::bytes frame = test::concat({test::hex("020000000002"), test::bytes(oui, oui + 3), test::hex("000001 88b5")});
    frame.resize(60, 0);
    test::reset({"json"});
    std::string line = test::decode_record(decode_ethernet, frame, 14);
    test::reset();
    EXPECT_TRUE(test::valid_json(line)) << line;
    EXPECT_NE(line.find("\"src_vendor\":\"" + name + "\""), std::string::npos) << line;
}

// A fault ends the run at once: the frames decoded before it still reach
// standard output whole, and the raw log ends at a whole record. The input
// comes through a pipe that stays open, so the run waits, holding every
// frame it decoded, when the signal comes. With several threads that is
// every whole batch of 256 frames (the last 208 frames wait for more); the
// raw log has the batches written before, all but the jobs + 1 that stay
// in flight.
TEST(FailurePaths, AFatalSignalKeepsTheFramesDecodedBeforeIt) {
    test::temp_dir dir;
    constexpr unsigned frames = 2000, in_batches = 7 * 256;
    test::bytes input = capture_of(frames);
    const struct {
        const char* name;
        int sig;
        bool fault;  // delivered like a fault of the process (not kill(2))
        std::vector<std::string> mode;
        const char* jobs;
        unsigned shown, logged;  // frames in the output and in the raw log
    } cases[] = {
        {"a segmentation fault", SIGSEGV, true, {"--json"}, "1", frames, frames},
        {"a bus error", SIGBUS, true, {"--summary"}, "1", frames, frames},
        {"an abort", SIGABRT, true, {"--json"}, "1", frames, frames},
        {"kill -SEGV", SIGSEGV, false, {"--json"}, "1", frames, frames},
        {"a segmentation fault, two jobs", SIGSEGV, true, {"--json"}, "2", in_batches, (7 - 3) * 256},
        {"an abort, three jobs", SIGABRT, true, {"--summary"}, "3", in_batches, (7 - 4) * 256},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string out_path = dir.file("out"), raw = dir.file("raw.pcap");
        std::vector<std::string> args{"-P", "-", "--jobs", c.jobs, "-r", raw};
        args.insert(args.end(), c.mode.begin(), c.mode.end());
        int in[2];
        ASSERT_EQ(pipe(in), 0);
        int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(dir.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        pid_t pid = spawn(args, in[0], out, err);
        close(in[0]);
        close(out);
        close(err);
        ASSERT_EQ(write(in[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
        std::this_thread::sleep_for(1s);
        if (c.fault)
            syscall(SYS_tgkill, pid, pid, c.sig);
        else
            kill(pid, c.sig);
        EXPECT_EQ(wait_within(pid, 10s), 128 + c.sig);
        close(in[1]);
        std::string text;
        for (uint8_t b : test::read_file(out_path)) text.push_back(static_cast<char>(b));
        auto lines = lines_of(text);
        EXPECT_TRUE(text.ends_with("\n"));
        size_t frame_lines = 0;
        for (const auto& line : lines) {
            if (c.mode[0] == "--json") {
                EXPECT_TRUE(test::json_text_is_valid(line)) << line;
                if (line.starts_with("{\"frame\"")) ++frame_lines;
            } else {
                ++frame_lines;
            }
        }
        EXPECT_EQ(frame_lines, c.shown);
        EXPECT_EQ(test::pcap_records(test::read_file(raw)), static_cast<long>(c.logged));
    }
}

}  // namespace
