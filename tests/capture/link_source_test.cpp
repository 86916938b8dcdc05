#include "capture/link_source.h"

#include <gtest/gtest.h>
#include <net/if.h>
#include <poll.h>
#include <unistd.h>

#include <csignal>
#include <ctime>
#include <regex>
#include <string>
#include <vector>

#include "driver/run.h"
#include "support.h"
#include "zelk_net.h"
#include "zelklib/netns.h"

namespace {

#define REQUIRE_ROOT() \
    if (!test::running_as_root()) GTEST_SKIP() << "live capture in a network namespace needs root"

// Frames that stay on the veth pair; the addresses are documentation ones.
std::vector<test::bytes> sample_frames() {
    auto ipv4_udp = test::hex(
        "02000000000a 02000000000b 0800"
        "4500 0020 1234 0000 4011 0000 c0000202 c0000201"
        "d431 0035 000c 0000 61626364");
    test::put_be16(ipv4_udp, 24, test::inet_checksum(test::bytes(ipv4_udp.begin() + 14, ipv4_udp.begin() + 34)));
    return {
        test::hex("ffffffffffff 02000000000b 0806 0001 0800 06 04 0001 02000000000b c0000202 000000000000 c0000201"),
        ipv4_udp,
        test::hex("02000000000a 02000000000b 0008 aaaa03 000000 88b5 0102 0304 0506 0708"),
        // An IPv4 header cut after six bytes.
        test::hex("02000000000a 02000000000b 0800 4500 0054 abcd"),
    };
}

// Reads the output of a starting nodrix until its device line is out, so
// that its socket is open; returns what it read.
std::string wait_for_start(const test::running_nodrix& child) {
    std::string head;
    time_t deadline = time(nullptr) + 10;
    while (head.find("Receive packet(s) on device: ") == std::string::npos && time(nullptr) < deadline) {
        pollfd p{child.out_fd, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0) continue;
        char buffer[4096];
        ssize_t n = read(child.out_fd, buffer, sizeof buffer);
        if (n <= 0) break;
        head.append(buffer, static_cast<size_t>(n));
    }
    return head;
}

struct live_run {
    test::run_result result;
    bool started = false;
};

// Runs nodrix in the current namespace, sends the frames from the peer end
// once it captures, and collects what it printed.
live_run capture_live(const std::vector<std::string>& args, const std::vector<test::bytes>& frames) {
    live_run run;
    test::running_nodrix child = test::start_nodrix(args);
    std::string head = wait_for_start(child);
    run.started = head.find("Receive packet(s) on device: ") != std::string::npos;
    if (run.started) {
        zelk_link_layer* sender = zelk_open_link_layer(test::veth_namespace::peer_end);
        for (const auto& f : frames)
            zelk_write_link_layer(sender, test::veth_namespace::peer_end, f.data(), static_cast<int>(f.size()), 1);
        zelk_close_link_layer(sender);
        free(sender);
    }
    run.result = test::finish_nodrix(child, 20);
    run.result.out = head + run.result.out;
    return run;
}

// The decoded frames alone, each behind a marker with its number and
// length; what comes before the first frame must begin with the header.
std::string frames_only(const std::string& out, const std::string& header, const std::string& trailer) {
    static const std::regex live_line(
        R"(\n\d\d:\d\d:\d\d\.\d{6} - Received frame (\d+)\((\d+) bytes length\)\.\.\.\n)");
    static const std::regex pcap_line(
        R"(\n\d\d:\d\d:\d\d\.\d{6} - Received frame (\d+)\((\d+)/\2 bytes length\)\.\.\.\n)");
    if (out.rfind(header, 0) != 0 || !out.ends_with(trailer)) return "unexpected frame of the output:\n" + out;
    std::string body = out.substr(0, out.size() - trailer.size());
    body = std::regex_replace(body, live_line, "\n[frame $1, $2 bytes]\n");
    body = std::regex_replace(body, pcap_line, "\n[frame $1, $2 bytes]\n");
    size_t first = body.find("\n[frame 1, ");
    return first == std::string::npos ? "no frames:\n" + out : body.substr(first);
}

TEST(LinkLayerCapture, DecodesLikeThePcapSourceWithOneLength) {
    REQUIRE_ROOT();
    test::veth_namespace ns;
    ASSERT_TRUE(ns.ok()) << ns.error;
    test::temp_dir dir;
    auto frames = sample_frames();
    std::vector<std::string> decoding = {"-v", "--expand-all", "-R"};

    std::vector<std::string> args = {
        "--use-zelklib", "-d", "nxa", "--max-packets", std::to_string(frames.size()), "-p", "-r", dir.file("raw.pcap")};
    args.insert(args.end(), decoding.begin(), decoding.end());
    live_run live;
    int flags_before, flags_after;
    {
        test::inside_namespace inside(ns.name);
        ASSERT_TRUE(inside.entered);
        flags_before = test::interface_flags("nxa");
        live = capture_live(args, frames);
        flags_after = test::interface_flags("nxa");
    }
    ASSERT_TRUE(live.started) << live.result.out << live.result.err;
    EXPECT_EQ(live.result.status, 0) << live.result.err;
    EXPECT_EQ(live.result.err, "");
    EXPECT_EQ(flags_after, flags_before);  // -p leaves the interface alone
    EXPECT_EQ(flags_after & IFF_PROMISC, 0);
    // The raw log holds the frames as this source received them.
    auto raw = test::read_file(dir.file("raw.pcap"));
    size_t raw_bytes = 24;
    for (const auto& f : frames) raw_bytes += 16 + f.size();
    EXPECT_EQ(raw.size(), raw_bytes);
    std::regex one_length(R"(\n\d\d:\d\d:\d\d\.\d{6} - Received frame \d+\(\d+ bytes length\)\.\.\.\n)");
    EXPECT_EQ(std::distance(std::sregex_iterator(live.result.out.begin(), live.result.out.end(), one_length),
                            std::sregex_iterator()),
              static_cast<long>(frames.size()))
        << live.result.out;

    std::vector<test::pcap_record> records;
    for (const auto& f : frames) records.push_back({f});
    test::write_file(dir.file("same.pcap"), test::pcap_file(records));
    std::vector<std::string> file_args = {"-P", dir.file("same.pcap")};
    file_args.insert(file_args.end(), decoding.begin(), decoding.end());
    auto from_file = test::run_nodrix(file_args);
    ASSERT_EQ(from_file.status, 0);

    // The summary gives the kernel's counts.
    EXPECT_EQ(live.result.out.rfind("Receive packet(s) on device: nxa\n\n", 0), 0u) << live.result.out;
    std::string summary = "\nReceived " + std::to_string(frames.size()) + " packets, 0 dropped by kernel.\n";
    EXPECT_NE(live.result.out.find(summary + "\nExit.\n"), std::string::npos) << live.result.out;
    EXPECT_EQ(frames_only(live.result.out, "Receive packet(s) on device: nxa\n", summary + "\nExit.\n"),
              frames_only(from_file.out, "Read packet(s) from file: " + dir.file("same.pcap") + ".\n",
                          "\nRead pcap dump file completed.\n\nExit.\n"));
}

TEST(LinkLayerCapture, PromiscuousModeFlipsOnEveryRun) {
    REQUIRE_ROOT();
    test::veth_namespace ns;
    ASSERT_TRUE(ns.ok()) << ns.error;
    test::inside_namespace inside(ns.name);
    ASSERT_TRUE(inside.entered);
    auto frame = sample_frames()[0];
    const struct {
        const char* info;
        bool promiscuous_after;
    } runs[] = {
        {"Info : zelk_toggle_promisc - promisc mode not set - setting it!\n", true},
        {"Info : zelk_toggle_promisc - promisc mode set - unsetting it!\n", false},
    };
    for (const auto& r : runs) {
        auto live = capture_live({"--use-zelklib", "-d", "nxa", "--max-packets", "1"}, {frame});
        EXPECT_EQ(live.result.status, 0) << live.result.err;
        EXPECT_EQ(live.result.out.rfind(std::string(r.info) + "Receive packet(s) on device: nxa\n", 0), 0u)
            << live.result.out;
        EXPECT_NE(live.result.out.find(" - Received frame 1(42 bytes length)...\n"), std::string::npos);
        EXPECT_EQ((test::interface_flags("nxa") & IFF_PROMISC) != 0, r.promiscuous_after);
    }
}

TEST(LinkLayerCapture, InterruptEndsTheRunOrderly) {
    REQUIRE_ROOT();
    test::veth_namespace ns;
    ASSERT_TRUE(ns.ok()) << ns.error;
    test::inside_namespace inside(ns.name);
    ASSERT_TRUE(inside.entered);
    for (int sig : {SIGINT, SIGTERM}) {
        test::running_nodrix child = test::start_nodrix({"--use-zelklib", "-d", "nxa", "-p"});
        std::string head = wait_for_start(child);
        // The capture now waits in its receive call.
        usleep(300 * 1000);
        kill(child.pid, sig);
        auto r = test::finish_nodrix(child, 10);
        r.out = head + r.out;
        EXPECT_EQ(r.status, 0) << sig;
        EXPECT_EQ(r.out, "Receive packet(s) on device: nxa\n\nReceived 0 packets, 0 dropped by kernel.\n\nExit.\n")
            << sig;
    }
}

}  // namespace
