// Live captures in a network namespace: how soon a frame reaches the
// output, and frames larger than 65535 bytes. Need root.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "support.h"
#include "zelk_net.h"
#include "zelklib/netns.h"

namespace {

using namespace std::chrono_literals;

#define REQUIRE_ROOT() \
    if (!test::running_as_root()) GTEST_SKIP() << "live capture in a network namespace needs root"

// With --jobs 2 the frames go through the queue to the decoding thread,
// which is woken for a burst once the capture finds no more frames.
TEST(LiveDelivery, EachFrameIsPrintedAsSoonAsItArrives) {
    REQUIRE_ROOT();
    for (const char* jobs : {"1", "2"}) {
        SCOPED_TRACE(std::string("--jobs ") + jobs);
        test::veth_namespace ns;
        ASSERT_TRUE(ns.ok()) << ns.error;
        test::inside_namespace inside(ns.name);
        ASSERT_TRUE(inside.entered);
        constexpr int frames = 15;
        auto child = test::start_nodrix(
            {"-d", test::veth_namespace::capture_end, "-f", "ether proto 0x88b5", "--max-packets", std::to_string(frames),
             "--jobs", jobs});
        ASSERT_TRUE(test::wait_for_capture_start(child));

        zelk_link_layer* sender = zelk_open_link_layer(test::veth_namespace::peer_end);
        ASSERT_NE(sender, nullptr);
        auto frame = test::hex("020000000002 020000000001 88b5 0001 0203 0405 0607 0809 0a0b 0c0d 0e0f 1011 1213 1415");
        std::vector<double> latencies_ms;
        for (int n = 1; n <= frames; ++n) {
            auto sent = std::chrono::steady_clock::now();
            zelk_write_link_layer(sender, test::veth_namespace::peer_end, frame.data(), static_cast<int>(frame.size()), 1);
            if (!test::wait_for_output(child, " - Received frame " + std::to_string(n) + "(", 5)) break;
            latencies_ms.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - sent).count());
            // Apart, as a person watching the screen would see them.
            std::this_thread::sleep_for(30ms);
        }
        zelk_close_link_layer(sender);
        free(sender);
        auto r = test::finish_nodrix(child, 10);
        EXPECT_EQ(r.status, 0) << r.err;
        ASSERT_EQ(latencies_ms.size(), static_cast<size_t>(frames)) << r.out;
        std::sort(latencies_ms.begin(), latencies_ms.end());
        double median = latencies_ms[frames / 2];
        RecordProperty("median_latency_ms", std::to_string(median));
        printf("frame to line: median %.2f ms, max %.2f ms over %d frames\n", median, latencies_ms.back(), frames);
        EXPECT_LT(median, 50.0);
    }
}

TEST(LiveDelivery, SnapLengthZeroCapturesALoopbackFrameAboveSixtyFourKiB) {
    REQUIRE_ROOT();
    test::veth_namespace ns;
    ASSERT_TRUE(ns.ok()) << ns.error;
    ASSERT_TRUE(ns.ip("link set lo up"));
    test::inside_namespace inside(ns.name);
    ASSERT_TRUE(inside.entered);
    test::temp_dir dir;
    constexpr uint16_t port = 40999;
    // The largest UDP datagram: 65535 bytes of IPv4 behind 14 of Ethernet.
    constexpr size_t payload = 65535 - 20 - 8;
    constexpr unsigned frame_length = 65535 + 14;

    for (bool whole : {true, false}) {
        std::vector<std::string> args{
            "-d", "lo", "-f", "udp dst port " + std::to_string(port), "--max-packets", "1", "-r", dir.file("raw.pcap")};
        if (whole) args.insert(args.end(), {"-s", "0"});
        auto child = test::start_nodrix(args);
        ASSERT_TRUE(test::wait_for_capture_start(child));
        EXPECT_TRUE(test::send_loopback_udp(port, std::string(payload, 'x')));
        auto r = test::finish_nodrix(child, 20);
        EXPECT_EQ(r.status, 0) << r.err;
        unsigned captured = whole ? frame_length : 65535;
        EXPECT_NE(r.out.find(" - Received frame 1(" + std::to_string(captured) + "/" + std::to_string(frame_length) +
                             " bytes length)...\n"),
                  std::string::npos)
            << r.out.substr(0, 400);
        EXPECT_NE(r.out.find("- UDP Header -"), std::string::npos) << r.out.substr(0, 800);
        EXPECT_NE(r.out.find("Length: 65515"), std::string::npos) << r.out.substr(0, 800);

        // The raw log keeps what was captured, byte for byte.
        char errbuf[PCAP_ERRBUF_SIZE];
        pcap_t* log = pcap_open_offline(dir.file("raw.pcap").c_str(), errbuf);
        ASSERT_NE(log, nullptr) << errbuf;
        EXPECT_EQ(pcap_snapshot(log), whole ? 262144 : 65535);
        pcap_pkthdr* header = nullptr;
        const u_char* bytes = nullptr;
        ASSERT_EQ(pcap_next_ex(log, &header, &bytes), 1);
        EXPECT_EQ(header->caplen, captured);
        EXPECT_EQ(header->len, frame_length);
        EXPECT_EQ(bytes[header->caplen - 1], 'x');
        pcap_close(log);
    }
}

}  // namespace
