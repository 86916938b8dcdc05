// Failures and hostile input: full disks, damaged files, signals, planted
// files, misbehaving servers, and what a capture may do once it runs.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "support.h"

namespace {

using namespace std::chrono_literals;

std::string text_of(const std::string& path) {
    auto b = test::read_file(path);
    return std::string(b.begin(), b.end());
}

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

struct spawned {
    int status = -1;  // exit status or 128 + signal
};

// Runs the built nodrix with its standard streams on files (or /dev/full).
pid_t start_to_files(const std::vector<std::string>& args, const std::string& out, const std::string& err,
                     const std::string& shell_prefix = "") {
    pid_t pid = fork();
    if (pid == 0) {
        int in = open("/dev/null", O_RDONLY);
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(in, 0);
        dup2(o, 1);
        dup2(e, 2);
        if (!shell_prefix.empty()) {
            std::string command = shell_prefix + " exec " + NODRIX_BINARY;
            for (const auto& a : args) command += " '" + a + "'";
            execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
        }
        std::vector<char*> argv{const_cast<char*>("nodrix")};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(NODRIX_BINARY, argv.data());
        _exit(127);
    }
    return pid;
}

spawned finish(pid_t pid, int timeout_seconds = 30) {
    spawned s;
    int status = 0;
    for (int waited = 0;; waited += 10) {
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (waited >= timeout_seconds * 1000) kill(pid, SIGKILL);
        std::this_thread::sleep_for(10ms);
    }
    s.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return s;
}

test::bytes frame_of(size_t size) {
    test::bytes f = test::hex("020000000002 020000000001 88b5");
    f.resize(size, 0x5a);
    return f;
}

std::string write_capture(const test::temp_dir& dir, unsigned frames, size_t size = 100) {
    std::vector<test::pcap_record> records(frames, test::pcap_record{frame_of(size)});
    std::string path = dir.file("in.pcap");
    test::write_file(path, test::pcap_file(records, 1, 262144));
    return path;
}

// A small tmpfs that fills up, mounted for the test.
struct small_filesystem {
    test::temp_dir dir;
    bool mounted = false;
    explicit small_filesystem(const char* size) {
        mounted = mount("tmpfs", dir.path.c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) == 0;
    }
    ~small_filesystem() {
        if (mounted) umount2(dir.path.c_str(), MNT_DETACH);
    }
};

// 1: a write that fails stops the run with status 1 and names the file.
TEST(Hardening, FailedWritesEndWithStatusOneAndWholeRecords) {
    test::temp_dir dir;
    std::string input = write_capture(dir, 5000);
    auto full = finish(start_to_files({"-P", input}, "/dev/full", dir.file("err")));
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(text_of(dir.file("err")), "Error: Can't write standard output: No space left on device.\n");

    if (!test::running_as_root()) GTEST_SKIP() << "mounting a tmpfs needs root";
    small_filesystem fs("64k");
    ASSERT_TRUE(fs.mounted);
    struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"-P", input, "-r", fs.dir.file("raw.pcap")}, "Error: Can't write raw log " + fs.dir.file("raw.pcap")},
        {{"-P", input, "-l", fs.dir.file("text.log")}, "Error: Can't write logfile " + fs.dir.file("text.log")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        auto r = finish(start_to_files(c.args, dir.file("out"), dir.file("err")));
        EXPECT_EQ(r.status, 1);
        std::string err = text_of(dir.file("err"));
        EXPECT_EQ(err.rfind(c.message + ": No space left on device.\n", 0), 0u) << err;
        unlink(c.args.back().c_str());
    }
    // The raw log keeps only whole records.
    finish(start_to_files(cases[0].args, dir.file("out"), dir.file("err")));
    long records = test::pcap_records(test::read_file(fs.dir.file("raw.pcap")));
    EXPECT_GT(records, 0);
    EXPECT_LT(records, 5000);
    EXPECT_NE(text_of(dir.file("out")).find("\nExit.\n"), std::string::npos);
}

// 4: a record length of 4 GiB costs no memory beyond the frame limit.
TEST(Hardening, RecordLengthBombsStayBounded) {
    test::temp_dir dir;
    constexpr size_t zeros = 256u << 20;
    struct {
        const char* option;
        test::bytes head;
    } files[] = {
        {"-I", test::concat({test::hex("697074726163652032 2e30"), test::hex("ffffffff"), test::bytes(36, 0)})},
        {"-S", test::concat({test::hex("736e6f6f70000000 00000002 00000004"), test::hex("ffffffff ffffffe0 ffffffff"),
                             test::bytes(12, 0)})},
    };
    for (const auto& f : files) {
        SCOPED_TRACE(f.option);
        std::string path = dir.file("bomb.gz");
        gzFile gz = gzopen(path.c_str(), "wb9");
        ASSERT_NE(gz, nullptr);
        gzwrite(gz, f.head.data(), static_cast<unsigned>(f.head.size()));
        std::vector<uint8_t> block(1 << 20, 0);
        for (size_t n = 0; n < zeros; n += block.size()) gzwrite(gz, block.data(), static_cast<unsigned>(block.size()));
        gzclose(gz);
        auto r = test::run_measured({f.option, path}, dir.file("out"), dir.file("err"));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(text_of(dir.file("err")),
                  "Error: End of file reached, but not at the right position, maybe truncated.\n\n");
        EXPECT_LT(r.peak_kib, 100 * 1024) << "the reader allocated what the length field says";
    }
}

// 5: a pcap file cut anywhere: cut inside a record is an error with
// libpcap's reason, then the reports.
TEST(Hardening, PcapCutAtEveryByte) {
    test::temp_dir dir;
    std::vector<test::pcap_record> records(3, test::pcap_record{frame_of(60)});
    test::bytes file = test::pcap_file(records);
    for (size_t n = 24; n <= file.size(); ++n) {
        SCOPED_TRACE(n);
        test::write_file(dir.file("cut.pcap"), test::bytes(file.begin(), file.begin() + static_cast<long>(n)));
        auto r = test::run_nodrix({"-P", dir.file("cut.pcap"), "--statistic"});
        bool whole = (n - 24) % 76 == 0;
        EXPECT_EQ(r.status, whole ? 0 : 1);
        EXPECT_TRUE(r.out.ends_with("\nExit.\n"));
        EXPECT_NE(r.out.find("---------- Statistics ----------"), std::string::npos);
        EXPECT_EQ(r.out.find("completed") != std::string::npos, whole);
        if (!whole) {
            EXPECT_NE(r.err.find("Error: truncated dump file; tried to read "), std::string::npos) << r.err;
        }
    }
}

// 6: files that are not what they claim end with status 1.
TEST(Hardening, UnreadableTraceFilesFail) {
    test::temp_dir dir;
    test::write_file(dir.file("v1"), test::hex("697074726163652031 2e30"));
    test::write_file(dir.file("snoop6"), test::hex("736e6f6f70000000 00000006 00000004"));
    test::bytes record = test::concat({test::hex("0000005c"), test::bytes(24, 0), test::hex("06"), test::bytes(7, 0)});
    test::write_file(dir.file("cut"), test::concat({test::hex("697074726163652032 2e30"), record, frame_of(30)}));
    struct {
        const char* option;
        std::string path;
        std::string out;
    } cases[] = {
        {"-I", "/dev/zero", "Unknown iptrace file format.\n"},
        {"-S", "/dev/zero", "Unknown snoop file format(wrong magic).\n"},
        {"-I", dir.file("v1"), "File type is iptrace version 1.0. Not supported @ the moment!\n"},
        {"-S", dir.file("snoop6"), "Unknown snoop version 6.\n"},
        {"-I", dir.file("cut"), "Read frame 1(60 bytes length)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        auto r = test::run_nodrix({c.option, c.path});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
    }
}

// 10: SIGHUP ends a run like SIGTERM; SIGSEGV never ends with success.
TEST(Hardening, HangupEndsOrderlyAndSegvAlwaysDiesBySegv) {
    test::temp_dir dir;
    std::string input = write_capture(dir, 20000, 60);
    auto interrupt = [&](int sig, const std::string& raw) {
        auto child = test::start_nodrix({"-P", input, "-r", raw});
        EXPECT_TRUE(test::wait_for_output(child, "Received frame 2("));
        kill(child.pid, sig);
        return test::finish_nodrix(child, 60);
    };
    auto hup = interrupt(SIGHUP, dir.file("hup.pcap"));
    EXPECT_EQ(hup.status, 0);
    EXPECT_TRUE(hup.out.ends_with("\nExit.\n"));
    EXPECT_EQ(test::pcap_records(test::read_file(dir.file("hup.pcap"))),
              static_cast<long>(count(hup.out, " - Received frame ")));
    for (int i = 0; i < 50; ++i) {
        auto r = interrupt(SIGSEGV, dir.file("segv.pcap"));
        ASSERT_EQ(r.status, 128 + SIGSEGV) << "run " << i << r.err;
        EXPECT_EQ(r.err, "");
    }
}

// 12: the collected TCP stream is bounded.
TEST(Hardening, TcpStreamKeepsItsLimit) {
    test::temp_dir dir;
    test::bytes payload(1000, 'x');
    test::bytes frame = test::concat({test::hex("020000000002 020000000001 0800"),
                                      test::hex("4500 0410 0001 0000 4006 0000 0a000001 0a000002"),
                                      test::hex("9c41 0050 00000001 00000000 5018 2000 0000 0000"), payload});
    std::vector<test::pcap_record> records(100, test::pcap_record{frame});
    test::write_file(dir.file("tcp.pcap"), test::pcap_file(records));
    auto limited = test::run_nodrix({"-P", dir.file("tcp.pcap"), "--print-tcp-stream", "--tcp-stream-limit", "20000"});
    EXPECT_EQ(limited.status, 0);
    std::smatch m;
    std::string out = limited.out;
    ASSERT_TRUE(std::regex_search(out, m, std::regex("\nCollected Payload: \"(x*)\"\n")));
    size_t kept = m[1].length();
    EXPECT_LT(kept, 20000u);
    EXPECT_GT(kept, 15000u);
    EXPECT_NE(out.find("Note: " + std::to_string(100000 - kept) + " bytes of TCP payload were not kept"),
              std::string::npos);
    auto unlimited = test::run_nodrix({"-P", dir.file("tcp.pcap"), "--print-tcp-stream", "--tcp-stream-limit", "0"});
    EXPECT_NE(unlimited.out.find("\"" + std::string(100000, 'x') + "\"\n"), std::string::npos);
    EXPECT_EQ(unlimited.out.find("Note:"), std::string::npos);
}

}  // namespace
