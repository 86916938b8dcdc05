// Live capture on the loopback interface; needs root.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "support.h"

namespace {

using namespace std::chrono_literals;

#define REQUIRE_ROOT() \
    if (!test::running_as_root()) GTEST_SKIP() << "live capture needs root"

void send_datagrams(uint16_t port, int count, size_t size) {
    for (int i = 0; i < count; ++i) {
        test::send_loopback_udp(port, std::string(size, 'x'));
        std::this_thread::sleep_for(20ms);
    }
}

void wait_for_start(test::running_nodrix& child) { ASSERT_TRUE(test::wait_for_capture_start(child)); }

TEST(LiveCapture, LoopbackFramesAndSummary) {
    REQUIRE_ROOT();
    uint16_t port = test::free_udp_port();
    test::temp_dir dir;
    auto child = test::start_nodrix({"-d", "lo", "--max-packets", "3", "-f", "udp dst port " + std::to_string(port),
                                     "-c", "-r", dir.file("raw.pcap")});
    wait_for_start(child);
    send_datagrams(port, 3, 10);
    auto r = test::finish_nodrix(child, 20);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("Receive packet(s) on device: lo\nFilter rule: udp dst port " + std::to_string(port) + "\n", 0),
              0u)
        << r.out;
    for (int n = 1; n <= 3; ++n)
        EXPECT_NE(r.out.find(" - Received frame " + std::to_string(n) + "(52/52 bytes length)...\n\n- Ethernet Header -"),
                  std::string::npos)
            << r.out;
    EXPECT_EQ(r.out.find("Received frame 4"), std::string::npos);
    EXPECT_NE(r.out.find("\nReceived "), std::string::npos);
    EXPECT_NE(r.out.find(" packets(156 bytes), "), std::string::npos) << r.out;
    EXPECT_TRUE(r.out.ends_with(" dropped by kernel.\n\nExit.\n")) << r.out;

    // The raw log reads back into the same three frames.
    auto back = test::run_nodrix({"-P", dir.file("raw.pcap")});
    EXPECT_EQ(back.status, 0);
    auto frames = [](const std::string& s) { return s.substr(s.find("\n", s.find("Received frame 1"))); };
    auto live_part = r.out.substr(0, r.out.find("\nReceived "));
    EXPECT_EQ(frames(live_part), frames(back.out.substr(0, back.out.find("\nRead pcap dump file completed."))));
}

TEST(LiveCapture, TerminatingSignalsEndOrderly) {
    REQUIRE_ROOT();
    for (int sig : {SIGINT, SIGTERM}) {
        uint16_t port = test::free_udp_port();
        test::temp_dir dir;
        auto child = test::start_nodrix({"-d", "lo", "-f", "udp dst port " + std::to_string(port), "--statistic", "-r",
                                         dir.file("raw.pcap")});
        wait_for_start(child);
        send_datagrams(port, 2, 4);
        // libpcap hands frames over in blocks at its 1 s read timeout.
        std::this_thread::sleep_for(1500ms);
        kill(child.pid, sig);
        auto r = test::finish_nodrix(child, 20);
        EXPECT_EQ(r.status, 0) << sig;
        EXPECT_NE(r.out.find("Received frame 2(46/46 bytes length)"), std::string::npos) << r.out << r.err;
        EXPECT_NE(r.out.find("---------- Statistics ----------"), std::string::npos);
        EXPECT_TRUE(r.out.ends_with(" dropped by kernel.\n\nExit.\n")) << r.out;
        // The raw log is complete and valid.
        auto back = test::run_nodrix({"-P", dir.file("raw.pcap")});
        EXPECT_EQ(back.status, 0);
        EXPECT_NE(back.out.find("Received frame 2(46/46"), std::string::npos);
    }
}

TEST(LiveCapture, FatalSignalDoesNotEndWithSuccess) {
    REQUIRE_ROOT();
    auto child = test::start_nodrix({"-d", "lo", "-f", "udp dst port 9"});
    wait_for_start(child);
    kill(child.pid, SIGSEGV);
    auto r = test::finish_nodrix(child, 20);
    EXPECT_EQ(r.status, 128 + SIGSEGV);
    EXPECT_NE(r.out.find("\nExit.\n"), std::string::npos) << r.out;
}

TEST(LiveCapture, DaemonWritesAndRemovesItsPidFile) {
    REQUIRE_ROOT();
    test::pid_file_lock lock;
    test::temp_dir dir;
    std::string log = dir.file("d.log");
    unlink("/var/run/nodrix.pid");
    auto parent = test::run_nodrix({"-D", "-l", log, "-d", "lo", "-f", "udp dst port 9"}, 10);
    EXPECT_EQ(parent.status, 0);
    EXPECT_EQ(parent.out, "");
    pid_t daemon_pid = 0;
    for (int i = 0; i < 50 && daemon_pid == 0; ++i) {
        std::this_thread::sleep_for(100ms);
        std::ifstream f("/var/run/nodrix.pid");
        f >> daemon_pid;
    }
    ASSERT_GT(daemon_pid, 0);
    std::this_thread::sleep_for(1s);
    kill(daemon_pid, SIGTERM);
    bool gone = false;
    for (int i = 0; i < 50 && !gone; ++i) {
        std::this_thread::sleep_for(100ms);
        gone = access("/var/run/nodrix.pid", F_OK) != 0;
    }
    EXPECT_TRUE(gone);
    auto text = test::read_file(log);
    std::string s(text.begin(), text.end());
    EXPECT_NE(s.find("Receive packet(s) on device: lo\n"), std::string::npos) << s;
    EXPECT_TRUE(s.ends_with("\nExit.\n")) << s;
}

TEST(LiveCapture, OrdinaryUserIsRefused) {
    if (!test::running_as_root()) {
        auto r = test::run_nodrix({"-d", "lo"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "\nError: Please run this program as root!\n\n");
        EXPECT_EQ(r.out, "");
    }
}

}  // namespace
