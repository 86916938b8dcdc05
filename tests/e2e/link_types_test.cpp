// Whole runs over the PPP, PPPoE and Linux cooked link types, from pcap
// files and live from the "any" device.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "support.h"

namespace {

using namespace std::chrono_literals;
using test::bytes;
using test::hex;

// IPv4 (10.0.0.1 -> 10.0.0.2) carrying UDP 12345 -> 9999 with four bytes.
bytes ipv4_udp() {
    bytes ip = hex("45000020 00010000 40110000 0a000001 0a000002");
    test::put_be16(ip, 10, test::inet_checksum(ip));
    return test::concat({ip, hex("3039 270f 000c 0000 61626364")});
}

std::string decoded(const test::run_result& r) {
    size_t start = r.out.find("bytes length)...\n");
    return start == std::string::npos ? r.out : r.out.substr(start + 17);
}

TEST(LinkTypes, PppLinkDecodesDownToTheTransport) {
    test::temp_dir dir;
    // With address and control, and with both compressed away.
    for (const char* head : {"ff03 0021", "0021"}) {
        test::write_file(dir.file("ppp.pcap"), test::pcap_file({{test::concat({hex(head), ipv4_udp()})}}, 9));
        auto r = test::run_nodrix({"-P", dir.file("ppp.pcap")});
        EXPECT_EQ(r.status, 0) << r.err;
        std::string out = decoded(r);
        EXPECT_EQ(out.rfind("- PPP Header -\n  Protocol: 0x21\n- IPv4 Header -\n", 0), 0u) << head << out;
        EXPECT_NE(out.find("  Src IP: 10.0.0.1\n"), std::string::npos) << out;
        EXPECT_NE(out.find("- UDP Header -\n  Src Port: 12345"), std::string::npos) << out;
    }
}

TEST(LinkTypes, PppoeLinkFramesBeginWithThePppoeHeader) {
    test::temp_dir dir;
    bytes frame = test::concat({hex("1100 0001 0022 0021"), ipv4_udp()});
    test::write_file(dir.file("pppoe.pcap"), test::pcap_file({{frame}}, 51));
    auto r = test::run_nodrix({"-P", dir.file("pppoe.pcap"), "--expand-pppoe"});
    EXPECT_EQ(r.status, 0) << r.err;
    std::string out = decoded(r);
    EXPECT_EQ(out.rfind("\n- PPPoE Header -\n  Version: 1, Type: 1, Code: 0x0\n  Session ID: 0x1, Length: 34\n"
                        "- PPP Header -\n  Protocol: 0x21\n- IPv4 Header -\n",
                        0),
              0u)
        << out;
    EXPECT_NE(out.find("- UDP Header -\n  Src Port: 12345"), std::string::npos) << out;
}

TEST(LinkTypes, LiveCookedCaptureOnTheAnyDevice) {
    if (!test::running_as_root()) GTEST_SKIP() << "live capture on the \"any\" device needs root";
    uint16_t port = test::free_udp_port();
    std::string p = std::to_string(port);
    // Each datagram crosses the loopback device once, so a destination
    // port filter sees it once.
    auto child = test::start_nodrix({"-d", "any", "--max-packets", "2", "-f", "udp dst port " + p});
    EXPECT_TRUE(test::wait_for_capture_start(child));
    for (int i = 0; i < 2; ++i) {
        test::send_loopback_udp(port, "cooked");
        std::this_thread::sleep_for(50ms);
    }
    auto r = test::finish_nodrix(child, 20);
    EXPECT_EQ(r.status, 0) << r.err;
    // 16 bytes of cooked header, 20 of IPv4, 8 of UDP and the payload.
    for (int n = 1; n <= 2; ++n)
        EXPECT_NE(r.out.find(" - Received frame " + std::to_string(n) + "(50/50 bytes length)...\n\n- IPv4 Header -"),
                  std::string::npos)
            << r.out;
    EXPECT_NE(r.out.find("  Src IP: 127.0.0.1\n  Dst IP: 127.0.0.1\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("- UDP Header -\n  Src Port: "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(", Dst Port: " + p), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Received frame 3"), std::string::npos);
}

}  // namespace
