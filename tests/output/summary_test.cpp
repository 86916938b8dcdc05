// The summary line's facts beyond the addresses: relative TCP numbers per
// direction, ICMP echo identifiers, VLAN tags, frames cut by the snap
// length; and which stream the lines around them go to.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "../decode/ip_frames.h"
#include "support.h"

namespace {

using test::bytes;

void put_be32(bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.at(at + static_cast<size_t>(i)) = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// An Ethernet frame with IPv4 and TCP; `back` swaps addresses and ports.
bytes tcp_frame(bool back, uint16_t client_port, uint32_t seq, uint32_t ack, uint8_t flags) {
    bytes segment = ipf::tcp(flags, {});
    test::put_be16(segment, back ? 2 : 0, client_port);
    test::put_be16(segment, back ? 0 : 2, 80);
    put_be32(segment, 4, seq);
    put_be32(segment, 8, ack);
    bytes packet = ipf::ipv4(6, segment);
    if (back)
        for (size_t i = 12; i < 16; ++i) std::swap(packet[i], packet[i + 4]);
    return ipf::ethernet(0x0800, packet);
}

// The summary line of one Ethernet frame, without the time stamp.
std::string summary_of(const bytes& frame, long captured = -1, long wire = -1) {
    std::string line = test::decode_record(decode_ethernet, frame, 14, captured, wire);
    return line.substr(line.find(' ') + 1);
}

struct segment_case {
    bool back;
    uint16_t client_port;
    uint32_t seq;
    uint32_t ack;
    uint8_t flags;
    const char* relative;  // the numbers shown by default
    const char* absolute;  // with --absolute-seq
};

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Many connections between many hosts, interleaved (enough for the tables
// to grow): the decoding threads each keep their own directions, and any
// number of them gives the same relative numbers. A direction idle for
// over 300 s of capture time starts afresh.
TEST(SummaryLine, RelativeNumbersAreTheSameForAnyJobs) {
    std::vector<test::pcap_record> records;
    for (int round = 0; round < 5; ++round)
        for (uint32_t host = 1; host <= (round < 4 ? 1500u : 10u); ++host)
            for (bool back : {false, true}) {
                uint32_t seq = (back ? 0x80000000u : 1000u) + host * 7919 + static_cast<uint32_t>(round) * 100;
                uint32_t ack = (back ? 1000u : 0x80000000u) + host * 7919 + static_cast<uint32_t>(round) * 100;
                bytes frame = tcp_frame(back, static_cast<uint16_t>(30000 + host), seq, ack, 0x10);
                // 10.<host>.1 talks to 11.<host>.2.
                auto h = [host](uint8_t net, uint8_t last) {
                    return bytes{net, static_cast<uint8_t>(host >> 8), static_cast<uint8_t>(host), last};
                };
                bytes client = h(10, 1), server = h(11, 2);
                std::copy(client.begin(), client.end(), frame.begin() + (back ? 30 : 26));
                std::copy(server.begin(), server.end(), frame.begin() + (back ? 26 : 30));
                test::pcap_record r;
                r.data = frame;
                r.seconds += round == 4 ? 400 : 0;
                records.push_back(r);
            }
    test::temp_dir dir;
    std::string file = dir.file("flows.pcap");
    test::write_file(file, test::pcap_file(records));
    test::run_result one = test::run_nodrix({"-P", file, "--summary", "--jobs", "1"});
    ASSERT_EQ(one.status, 0);
    std::vector<std::string> lines = lines_of(one.out);
    ASSERT_EQ(lines.size(), records.size());
    // The fourth round of host 9, both ways; after 400 s idle, absolute.
    EXPECT_NE(one.out.find(" 10.0.9.1.30009 > 11.0.9.2.80 TCP [A] seq 300 ack 300 "), std::string::npos);
    EXPECT_NE(one.out.find(" 11.0.9.2.80 > 10.0.9.1.30009 TCP [A] seq 300 ack 300 "), std::string::npos);
    EXPECT_NE(one.out.find(" 10.0.9.1.30009 > 11.0.9.2.80 TCP [A] seq 72671 ack 2147555319 "), std::string::npos);
    EXPECT_NE(one.out.find(" 11.0.9.2.80 > 10.0.9.1.30009 TCP [A] seq 2147555319 ack 72671 "), std::string::npos);
    for (const char* jobs : {"2", "3"}) {
        test::run_result many = test::run_nodrix({"-P", file, "--summary", "--jobs", jobs});
        EXPECT_TRUE(many.out == one.out) << jobs;
    }
}

// One run of segments: a handshake and data, then a connection first seen in
// the middle whose numbers wrap around 2^32.
const segment_case segments[] = {
    {false, 40001, 1000, 0, 0x02, "[S] seq 1000 ack 0 ", "[S] seq 1000 ack 0 "},
    {true, 40001, 5000, 1001, 0x12, "[SA] seq 5000 ack 1001 ", "[SA] seq 5000 ack 1001 "},
    {false, 40001, 1001, 5001, 0x10, "[A] seq 1 ack 1 ", "[A] seq 1001 ack 5001 "},
    {false, 40001, 1101, 5001, 0x18, "[PA] seq 101 ack 1 ", "[PA] seq 1101 ack 5001 "},
    {true, 40001, 5001, 1101, 0x10, "[A] seq 1 ack 101 ", "[A] seq 5001 ack 1101 "},
    // Only one direction seen so far: ack stays absolute.
    {false, 40003, 4294967290u, 7, 0x10, "[A] seq 4294967290 ack 7 ", "[A] seq 4294967290 ack 7 "},
    {false, 40003, 10, 7, 0x10, "[A] seq 16 ack 7 ", "[A] seq 10 ack 7 "},
    {true, 40003, 3, 10, 0x10, "[A] seq 3 ack 10 ", "[A] seq 3 ack 10 "},
    {false, 40003, 20, 9, 0x10, "[A] seq 26 ack 6 ", "[A] seq 20 ack 9 "},
};

TEST(SummaryLine, TcpNumbersAreRelativePerDirection) {
    for (bool absolute : {false, true}) {
        if (absolute)
            test::reset({"summary", "absolute-seq"});
        else
            test::reset({"summary"});
        int n = 0;
        for (const auto& c : segments) {
            SCOPED_TRACE(std::to_string(n++) + (absolute ? " absolute" : " relative"));
            std::string line = summary_of(tcp_frame(c.back, c.client_port, c.seq, c.ack, c.flags));
            EXPECT_NE(line.find(std::string("TCP ") + (absolute ? c.absolute : c.relative)), std::string::npos)
                << line;
        }
    }
}

TEST(SummaryLine, IcmpVlanAndCutFrames) {
    bytes echo = ipf::icmp(8, 0, test::hex("1234 0007 61626364"));
    bytes icmpv6_echo = test::hex("81 00 0000 beef 0102");
    bytes ipv4_echo = ipf::ipv4(1, echo);
    bytes tag_100 = test::hex("0064 0800");
    bytes outer_200 = test::hex("00c8 8100"), inner_300 = test::hex("012c 0800");
    struct {
        const char* name;
        bytes frame;
        long wire;
        const char* expected;
    } cases[] = {
        {"icmp echo", ipf::ethernet(0x0800, ipv4_echo), -1,
         "192.168.1.10 > 10.0.0.200 ICMP Echo request id 4660 seq 7 (46 bytes)"},
        {"icmpv6 echo reply", ipf::ethernet(0x86dd, ipf::ipv6(58, icmpv6_echo)), -1,
         "2001:db8::1 > 2001:db8::2 ICMPv6 Echo reply id 48879 seq 258 (62 bytes)"},
        {"802.1Q", ipf::ethernet(0x8100, test::concat({tag_100, ipv4_echo})), -1,
         "192.168.1.10 > 10.0.0.200 vlan 100 ICMP Echo request id 4660 seq 7 (50 bytes)"},
        {"802.1ad", ipf::ethernet(0x88a8, test::concat({outer_200, inner_300, ipv4_echo})), -1,
         "192.168.1.10 > 10.0.0.200 vlan 200 vlan 300 ICMP Echo request id 4660 seq 7 (54 bytes)"},
        {"snap length", ipf::ethernet(0x0800, ipv4_echo), 1514,
         "192.168.1.10 > 10.0.0.200 ICMP Echo request id 4660 seq 7 (46 bytes) [cut]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::reset({"summary"});
        EXPECT_EQ(summary_of(c.frame, -1, c.wire), std::string(c.expected) + "\n");
    }
}

// The 802.1ad EtherType is named in the record; the printed list stays as it is.
TEST(SummaryLine, ServiceTagEtherTypeIsNamedInTheRecordOnly) {
    bytes frame = ipf::ethernet(0x88a8, test::concat({test::hex("00c8 0800"), ipf::ipv4(1, ipf::icmp(8, 0, {}))}));
    test::reset({"json"});
    std::string json = test::decode_record(decode_ethernet, frame, 14);
    EXPECT_NE(json.find("\"type\":34984,\"type_name\":\"802.1ad\""), std::string::npos) << json;
    test::reset({"verbose", "expand-ethernet"});
    std::string text = test::decode(decode_ethernet, frame, 14);
    EXPECT_NE(text.find("0x88a8 (unknown type)"), std::string::npos) << text;
}


// Standard output holds the summary lines or JSON Lines only; the lines
// around them go to standard error. The text mode keeps both streams.
TEST(OutputStreams, StructuredOutputKeepsStandardOutputClean) {
    std::string sample = std::string(NODRIX_SOURCE_DIR) + "/samples/sample.pcap";
    test::run_result text = test::run_nodrix({"-P", sample, "-f", "ip"});
    EXPECT_EQ(text.out.rfind("Read packet(s) from file: " + sample + ".\nFilter rule: ip\n", 0), 0u) << text.out;
    EXPECT_TRUE(text.out.ends_with("\nRead pcap dump file completed.\n\nExit.\n"));
    const std::string startup = "Read packet(s) from file: " + sample + ".\nFilter rule: ip\n";
    for (const char* mode : {"--summary", "--json"}) {
        SCOPED_TRACE(mode);
        test::run_result r = test::run_nodrix({"-P", sample, "-f", "ip", mode, "--statistic"});
        EXPECT_EQ(r.status, 0);
        std::vector<std::string> lines = lines_of(r.out);
        ASSERT_FALSE(lines.empty());
        for (size_t i = 0; i < lines.size(); ++i) {
            if (std::string(mode) == "--json")
                EXPECT_TRUE(test::valid_json(lines[i])) << lines[i];
            else
                EXPECT_EQ(lines[i].size() > 15 && lines[i][2] == ':' && lines[i][8] == '.', true) << lines[i];
        }
        EXPECT_EQ(r.err.rfind(startup, 0), 0u) << r.err;
        EXPECT_TRUE(r.err.ends_with("\nRead pcap dump file completed.\n\nExit.\n")) << r.err;
        if (std::string(mode) == "--summary")
            EXPECT_NE(r.err.find("---------- Statistics ----------"), std::string::npos);
        else
            EXPECT_EQ(lines.back().rfind("{\"statistics\":{", 0), 0u);
    }
}

TEST(OutputStreams, BufferSizeIsRangeChecked) {
    for (const char* size : {"0", "4097", "x"}) {
        test::run_result r = test::run_nodrix({"-B", size, "-P", "none.pcap"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, std::string("nodrix: `--buffer-size' (`-B') takes a number from 1 to 4096, not `") + size +
                             "'\n");
    }
}

// Reads the child's standard error until it holds `text`.
bool wait_for_error_output(test::running_nodrix& child, const std::string& text, std::string& err) {
    for (int waited = 0; err.find(text) == std::string::npos; ++waited) {
        if (waited > 200) return false;
        pollfd p{child.err_fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char buf[4096];
        ssize_t n = read(child.err_fd, buf, sizeof buf);
        if (n <= 0) return false;
        err.append(buf, static_cast<size_t>(n));
    }
    return true;
}

// A live capture under --json: the kernel's counts on standard error and in
// the statistics object; a large kernel buffer is accepted.
TEST(OutputStreams, LiveCaptureCountsUnderJson) {
    if (!test::running_as_root()) GTEST_SKIP() << "live capture needs root";
    uint16_t port = test::free_udp_port();
    auto child = test::start_nodrix({"-d", "lo", "--json", "--statistic", "--max-packets", "2", "-B", "8", "-f",
                                     "udp dst port " + std::to_string(port)});
    std::string early_err;
    ASSERT_TRUE(wait_for_error_output(child, "Filter rule: ", early_err)) << early_err;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    for (int i = 0; i < 2; ++i) test::send_loopback_udp(port, "xyz");
    test::run_result r = test::finish_nodrix(child, 20);
    r.err = early_err + r.err;
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> lines = lines_of(r.out);
    ASSERT_EQ(lines.size(), 3u) << r.out;
    for (const auto& line : lines) EXPECT_TRUE(test::valid_json(line)) << line;
    EXPECT_NE(lines[2].find(",\"received\":"), std::string::npos) << lines[2];
    EXPECT_NE(lines[2].find(",\"dropped_kernel\":0,\"dropped_interface\":0}}"), std::string::npos) << lines[2];
    EXPECT_EQ(r.err.rfind("Receive packet(s) on device: lo\n", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(" dropped by kernel, 0 dropped by interface.\n\nExit.\n"), std::string::npos) << r.err;
}

}  // namespace
