// How a run ends while it reads a capture file: terminating signals end it
// orderly with a complete raw log, fatal signals never end it with success,
// and a daemon leaves no pid file behind.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "support.h"

namespace {

using namespace std::chrono_literals;

constexpr unsigned frame_count = 20000;

// Frames with an EtherType nodrix does not decode, so that each prints
// little besides its frame line.
std::string write_capture(const test::temp_dir& dir) {
    test::bytes frame = test::hex("020000000002 020000000001 88b5");
    frame.resize(60, 0x5a);
    std::vector<test::pcap_record> records(frame_count, test::pcap_record{frame});
    std::string path = dir.file("in.pcap");
    test::write_file(path, test::pcap_file(records));
    return path;
}

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Starts a file read whose output the test does not drain, so that the
// reader blocks on the full pipe in the middle of the file; then signals it.
test::run_result interrupt_read(const std::vector<std::string>& args, int sig) {
    auto child = test::start_nodrix(args);
    EXPECT_TRUE(test::wait_for_output(child, "Received frame 2("));
    std::this_thread::sleep_for(200ms);
    kill(child.pid, sig);
    return test::finish_nodrix(child, 60);
}

TEST(ExitPaths, TerminatingSignalsEndOrderlyWithACompleteRawLog) {
    test::temp_dir dir;
    std::string input = write_capture(dir);
    for (int sig : {SIGINT, SIGTERM, SIGQUIT}) {
        SCOPED_TRACE(sig);
        std::string raw = dir.file("raw" + std::to_string(sig) + ".pcap");
        auto r = interrupt_read({"-P", input, "-r", raw, "--statistic"}, sig);
        EXPECT_EQ(r.status, 0) << r.err;
        size_t decoded = count(r.out, " - Received frame ");
        EXPECT_GT(decoded, 0u);
        EXPECT_LT(decoded, frame_count) << "the signal came after the end of the file";
        EXPECT_NE(r.out.find("---------- Statistics ----------"), std::string::npos);
        EXPECT_TRUE(r.out.ends_with("\nExit.\n")) << r.out.substr(r.out.size() - std::min<size_t>(r.out.size(), 300));
        // Every frame decoded before the signal, and no more, is in the log.
        EXPECT_EQ(test::pcap_records(test::read_file(raw)), static_cast<long>(decoded));
    }
}

TEST(ExitPaths, FatalSignalsNeverEndWithSuccess) {
    test::temp_dir dir;
    std::string input = write_capture(dir);
    for (int sig : {SIGSEGV, SIGABRT}) {
        SCOPED_TRACE(sig);
        std::string raw = dir.file("raw" + std::to_string(sig) + ".pcap");
        auto r = interrupt_read({"-P", input, "-r", raw}, sig);
        EXPECT_EQ(r.status, 128 + sig);
        // The reports still go out and the raw log is closed properly.
        EXPECT_NE(r.out.find("\nExit.\n"), std::string::npos);
        EXPECT_GT(test::pcap_records(test::read_file(raw)), 0);
    }
}

TEST(ExitPaths, DaemonRemovesItsPidFileAtTheEndOfAFile) {
    if (!test::running_as_root()) GTEST_SKIP() << "the pid file lives in /var/run";
    test::pid_file_lock lock;
    test::temp_dir dir;
    test::bytes frame = test::hex("020000000002 020000000001 88b5 00000000");
    test::write_file(dir.file("in.pcap"), test::pcap_file({{frame}, {frame}}));
    // An iptrace file of one Ethernet frame.
    test::bytes iptrace = test::hex("697074726163652032 2e30");
    test::bytes record(40, 0);
    record[3] = static_cast<uint8_t>(frame.size() + 32);
    record[28] = 6;
    iptrace = test::concat({iptrace, record, frame});
    test::write_file(dir.file("in.iptrace"), iptrace);

    struct source {
        const char* option;
        const char* file;
        const char* last_line;
    };
    for (const source& s :
         {source{"-P", "in.pcap", "\nExit.\n"}, source{"-I", "in.iptrace", "\nRead iptrace dump file completed.\n"}}) {
        SCOPED_TRACE(s.option);
        std::string log = dir.file(std::string(s.file) + ".log");
        auto parent = test::run_nodrix({"-D", "-l", log, s.option, dir.file(s.file)}, 10);
        EXPECT_EQ(parent.status, 0);
        std::string text;
        for (int i = 0; i < 100 && !text.ends_with(s.last_line); ++i) {
            std::this_thread::sleep_for(100ms);
            auto b = test::read_file(log);
            text.assign(b.begin(), b.end());
        }
        ASSERT_TRUE(text.ends_with(s.last_line)) << text;
        std::this_thread::sleep_for(300ms);
        // Another test's daemon may own a pid file; ours must not be left.
        std::ifstream f("/var/run/nodrix.pid");
        pid_t pid = 0;
        if (f >> pid) {
            EXPECT_EQ(kill(pid, 0), 0) << "stale pid file of process " << pid;
        }
    }
}

}  // namespace

namespace {

// In the sanitizer build the child checks for leaks at its end; the
// modules, the logs and the trace file are all released by then.
TEST(ExitPaths, FullRunsReleaseWhatTheyOpened) {
    test::temp_dir dir;
    test::bytes frame = test::hex("020000000002 020000000001 88b5 00000000");
    test::write_file(dir.file("in.pcap"), test::pcap_file({{frame}, {frame}}));
    test::bytes record(40, 0);
    record[3] = static_cast<uint8_t>(frame.size() + 32);
    record[28] = 6;
    test::write_file(dir.file("in.iptrace"), test::concat({test::hex("697074726163652032 2e30"), record, frame}));
    std::string modules = std::string(NODRIX_BUILD_DIR) + "/modules";

    const char* saved = getenv("ASAN_OPTIONS");
    std::string previous = saved ? saved : "";
    setenv("ASAN_OPTIONS", "detect_leaks=1", 1);
    const std::vector<std::vector<std::string>> runs = {
        {"-P", dir.file("in.pcap"), "--modules", modules, "-r", dir.file("raw.pcap"), "-l", dir.file("text.log"),
         "--statistic"},
        {"-I", dir.file("in.iptrace"), "--modules", modules, "--statistic"},
    };
    for (const auto& args : runs) {
        SCOPED_TRACE(args[0]);
        auto r = test::run_nodrix(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err.find("LeakSanitizer"), std::string::npos) << r.err;
    }
    if (saved)
        setenv("ASAN_OPTIONS", previous.c_str(), 1);
    else
        unsetenv("ASAN_OPTIONS");
}

}  // namespace

namespace {

// A file that cannot be read says so on standard error when standard output
// shows nothing of it (JSON Lines, --quiet).
TEST(ExitPaths, UnreadableTraceFilesAreExplainedInEveryMode) {
    test::temp_dir dir;
    test::write_file(dir.file("bad.snoop"), test::bytes{'n', 'o', 't', 's', 'n', 'o', 'o', 'p', 0, 0, 0, 2, 0, 0, 0, 4});
    test::write_file(dir.file("bad.iptrace"), test::bytes{'i', 'p', 't', 'r', 'a', 'c', 'e', ' ', '9', '.', '0'});
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"-S", dir.file("bad.snoop"), "--json"}, "Error: Unknown snoop file format(wrong magic).\n"},
        {{"-S", dir.file("bad.snoop"), "--quiet"}, "Error: Unknown snoop file format(wrong magic).\n"},
        {{"-I", dir.file("bad.iptrace"), "--json"}, "Error: Unknown iptrace file format.\n"},
        {{"-S", dir.file("missing"), "--quiet"}, "Error: Can't open snoop file " + dir.file("missing") + ".\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[2]);
        test::run_result r = test::run_nodrix(c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
}

}  // namespace

namespace {

// A capture read from a pipe whose writer is still running shows each frame
// at once, as `tcpdump -U -w - | nodrix -P -` needs.
TEST(Pipes, FramesFromAPipeAreShownAtOnce) {
    test::temp_dir dir;
    std::string fifo = dir.file("in.pcap");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    test::running_nodrix child = test::start_nodrix({"-P", fifo});
    int writer = open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(writer, 0);
    // libpcap reads the pipe in blocks of 8 KiB: 200 frames fill two.
    std::vector<test::pcap_record> records(
        200, test::pcap_record{test::concat({test::hex("020000000002 020000000001 88b5"), test::bytes(46, 0)})});
    test::bytes file = test::pcap_file(records);
    ASSERT_EQ(write(writer, file.data(), file.size()), static_cast<ssize_t>(file.size()));
    // The writer stays open: the frames must not wait for its end.
    EXPECT_TRUE(test::wait_for_output(child, "Received frame 100(", 2));
    close(writer);
    EXPECT_EQ(test::finish_nodrix(child).status, 0);
}

}  // namespace
