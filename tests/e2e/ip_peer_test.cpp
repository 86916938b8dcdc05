// The IP layer against tshark, field by field, over captures the tests make:
// built frames (fragments, pure ACKs on BGP's port, GRE with key and
// sequence number) and live loopback traffic (ICMP, UDP, TCP, IPv6), whose
// checksum verdicts must all be correct or offloaded.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include "../decode/ip_frames.h"
#include "peer.h"
#include "support.h"
#include "zelklib/netns.h"

using test::bytes;
using test::hex;

namespace {

using namespace std::chrono_literals;

struct field_pair {
    const char* tshark;
    const char* proto;
    const char* key;
    int n = 0;  // which occurrence (inner headers of a tunnel: 1)
};

// The core fields both decoders show.
const std::vector<field_pair> core_fields = {
    {"ip.src", "ipv4", "src"},
    {"ip.dst", "ipv4", "dst"},
    {"ip.ttl", "ipv4", "ttl"},
    {"ip.id", "ipv4", "id"},
    {"ip.checksum", "ipv4", "checksum", 1},  // the inner header of a tunnel
    {"ipv6.src", "ipv6", "src"},
    {"ipv6.dst", "ipv6", "dst"},
    {"ipv6.hlim", "ipv6", "hop_limit"},
    {"tcp.srcport", "tcp", "src_port"},
    {"tcp.dstport", "tcp", "dst_port"},
    {"tcp.seq_raw", "tcp", "seq"},
    {"tcp.ack_raw", "tcp", "ack"},
    {"tcp.flags", "tcp", "flags"},
    {"tcp.window_size_value", "tcp", "window"},
    {"udp.srcport", "udp", "src_port"},
    {"udp.dstport", "udp", "dst_port"},
    {"udp.length", "udp", "length"},
    {"icmp.type", "icmp", "type"},
    {"icmp.code", "icmp", "code"},
    {"icmpv6.type", "icmpv6", "type"},
    {"icmpv6.code", "icmpv6", "code"},
    {"gre.key", "gre", "key"},
    {"gre.sequence_number", "gre", "seq"},
};

// Checksum verdicts: tshark's status 1 good, 0 bad, 2 or none unverified.
const std::vector<field_pair> verdicts = {
    {"ip.checksum.status", "ipv4", "checksum"},       {"tcp.checksum.status", "tcp", "checksum"},
    {"udp.checksum.status", "udp", "checksum"},       {"icmp.checksum.status", "icmp", "checksum"},
    {"icmpv6.checksum.status", "icmpv6", "checksum"},
};

std::string nth(const std::string& joined, int n) {
    size_t start = 0;
    for (int i = 0; i < n; ++i) {
        start = joined.find(',', start);
        if (start == std::string::npos) return "";
        ++start;
    }
    return joined.substr(start, joined.find(',', start) - start);
}

// Numbers compare by value (tshark writes some in hex), text as written.
bool same(const std::string& a, const std::string& b) {
    if (a == b) return true;
    try {
        size_t ia, ib;
        unsigned long long x = std::stoull(a, &ia, 0), y = std::stoull(b, &ib, 0);
        return ia == a.size() && ib == b.size() && x == y;
    } catch (...) {
        return false;
    }
}

struct comparison {
    int compared = 0;
    int offloaded = 0;  // nodrix names it, tshark calls it bad
    int behind_fragment_header = 0;
    std::vector<std::string> differences;
};

comparison compare(const std::string& pcap, const std::vector<std::string>& extra_fields = {}) {
    comparison result;
    std::vector<std::string> fields;
    for (const auto& f : core_fields) fields.push_back(f.tshark);
    for (const auto& f : verdicts) fields.push_back(f.tshark);
    for (const auto& f : extra_fields) fields.push_back(f);
    auto rows = test::tshark_fields(
        pcap, fields, "",
        {"-o", "ip.defragment:FALSE", "-o", "ipv6.defragment:FALSE", "-o", "ip.check_checksum:TRUE", "-o",
         "tcp.check_checksum:TRUE", "-o", "udp.check_checksum:TRUE", "-o", "tcp.analyze_sequence_numbers:FALSE"});
    auto lines = test::nodrix_json_lines(pcap, {"--calc-checksums"});
    EXPECT_EQ(rows.size(), lines.size()) << pcap;
    for (size_t frame = 0; frame < rows.size() && frame < lines.size(); ++frame) {
        const std::string& line = lines[frame];
        auto differ = [&](const std::string& what, const std::string& theirs, const std::string& ours) {
            result.differences.push_back("frame " + std::to_string(frame + 1) + " " + what + ": tshark '" + theirs +
                                         "' nodrix '" + ours + "'");
        };
        for (size_t i = 0; i < core_fields.size(); ++i) {
            const auto& f = core_fields[i];
            std::string theirs = nth(rows[frame][i], f.n);
            std::string ours =
                test::json_layers(line, f.proto) > f.n ? test::json_field(line, f.proto, f.key, f.n) : "";
            ++result.compared;
            // Behind an IPv6 fragment header nodrix shows nothing until that
            // header has a decoder of its own.
            if (ours.empty() && line.find("\"next_header\":44") != std::string::npos &&
                line.find("\"ipv6_fragment\":{") == std::string::npos) {
                ++result.behind_fragment_header;
                continue;
            }
            if (!same(theirs, ours)) differ(f.tshark, theirs, ours);
        }
        for (size_t i = 0; i < verdicts.size(); ++i) {
            const auto& f = verdicts[i];
            std::string theirs = nth(rows[frame][core_fields.size() + i], 0);
            std::string ok = test::json_field(line, f.proto, std::string(f.key) + "_ok");
            bool offloaded = test::json_field(line, f.proto, std::string(f.key) + "_offloaded") == "true";
            std::string ours = ok == "true" ? "1" : ok == "false" ? "0" : offloaded ? "offloaded" : "";
            if (theirs == "2") theirs = "";
            ++result.compared;
            if (offloaded && theirs == "0") {
                ++result.offloaded;
                continue;
            }
            if (theirs != ours) differ(f.tshark, theirs, ours);
        }
    }
    return result;
}

#define REQUIRE_PEERS()                                                       \
    if (!test::tshark_available()) GTEST_SKIP() << "tshark is not installed"; \
    do {                                                                      \
    } while (0)

bytes ipv4_with(bytes packet, uint16_t flags_offset) {
    test::put_be16(packet, 6, flags_offset);
    test::put_be16(packet, 10, 0);
    test::put_be16(packet, 10, test::inet_checksum(bytes(packet.begin(), packet.begin() + 20)));
    return packet;
}

}  // namespace

TEST(IpPeer, BuiltFramesAgreeWithTshark) {
    REQUIRE_PEERS();
    // IPv4 fragments of one UDP datagram (RFC 791).
    bytes datagram = ipf::udp(bytes(1000, 0x61), 40001, 2049);
    bytes first = ipv4_with(ipf::ipv4(17, bytes(datagram.begin(), datagram.begin() + 512)), 0x2000);
    bytes later = ipv4_with(ipf::ipv4(17, bytes(datagram.begin() + 512, datagram.end())), 64);
    // IPv6 fragments of a TCP segment (RFC 8200 4.5).
    bytes segment = ipf::tcp(0x18, bytes(600, 0x62));
    bytes v6_first =
        ipf::ipv6(44, test::concat({hex("06 00 0001 00000007"), bytes(segment.begin(), segment.begin() + 304)}));
    bytes v6_later =
        ipf::ipv6(44, test::concat({hex("06 00 0130 00000007"), bytes(segment.begin() + 304, segment.end())}));
    // A pure ACK on BGP's port, padded to the Ethernet minimum.
    bytes ack = ipf::tcp(0x10, {});
    test::put_be16(ack, 2, 179);
    test::put_be16(ack, 16, 0);
    ack = ipf::with_transport_checksum(ack, 6, 16);
    bytes ack_frame = ipf::ethernet(0x0800, ipf::ipv4(6, ack));
    ack_frame.resize(60, 0);
    // GRE with key and sequence number (RFC 2890) around ICMP echo.
    bytes inner = ipf::ipv4(1, ipf::icmp(8, 0, hex("0001 0002 6869")));
    bytes gre = ipf::ipv4(47, test::concat({hex("3000 0800 0000002a 00000007"), inner}));

    std::vector<test::pcap_record> records;
    for (const bytes& packet : {first, later, v6_first, v6_later, gre})
        records.push_back({ipf::ethernet(packet[0] >> 4 == 6 ? 0x86dd : 0x0800, packet)});
    records.push_back({ack_frame});
    test::temp_dir dir;
    test::write_file(dir.file("built.pcap"), test::pcap_file(records));
    comparison c = compare(dir.file("built.pcap"), {"frame.protocols"});
    EXPECT_TRUE(c.differences.empty()) << [&] {
        std::string all;
        for (const auto& d : c.differences) all += d + "\n";
        return all;
    }();
    EXPECT_GT(c.compared, 100);
    // Neither decodes the pure ACK's padding as BGP.
    auto lines = test::nodrix_json_lines(dir.file("built.pcap"));
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[5].find("\"bgp\":{"), std::string::npos) << lines[5];
    std::cout << "compared " << c.compared << " fields; " << c.behind_fragment_header
              << " behind an IPv6 fragment header that nodrix does not decode yet\n";
}

TEST(IpPeer, LoopbackTrafficAgreesWithTsharkAndEveryVerdictHolds) {
    REQUIRE_PEERS();
    if (!test::running_as_root()) GTEST_SKIP() << "live capture needs root";
    // A loopback of our own: other tests send on the machine's loopback at
    // the same time.
    test::veth_namespace ns;
    ASSERT_TRUE(ns.ok()) << ns.error;
    ASSERT_EQ(system(("ip netns exec " + ns.name +
                      " sysctl -qw net.ipv6.conf.all.disable_ipv6=0 net.ipv6.conf.lo.disable_ipv6=0 >/dev/null 2>&1")
                         .c_str()),
              0);
    ASSERT_TRUE(ns.ip("link set lo up"));
    test::inside_namespace inside(ns.name);
    ASSERT_TRUE(inside.entered);
    test::temp_dir dir;
    auto child = test::start_nodrix({"-d", "lo", "-f", "host 127.0.0.1 or host ::1", "-r", dir.file("live.pcap")});
    ASSERT_TRUE(test::wait_for_capture_start(child));
    std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(test::run_python(R"(
import socket, struct
def inet_sum(b):
    if len(b) % 2: b += b'\0'
    s = sum(struct.unpack('!%dH' % (len(b) // 2), b))
    while s >> 16: s = (s >> 16) + (s & 0xffff)
    return ~s & 0xffff
for family, host in ((socket.AF_INET, '127.0.0.1'), (socket.AF_INET6, '::1')):
    r = socket.socket(family, socket.SOCK_DGRAM); r.bind((host, 0))
    s = socket.socket(family, socket.SOCK_DGRAM); s.sendto(b'hello', r.getsockname()); r.recv(100)
    l = socket.socket(family, socket.SOCK_STREAM); l.bind((host, 0)); l.listen(1)
    c = socket.create_connection(l.getsockname()[:2]); a, _ = l.accept()
    c.sendall(b'x' * 100); a.recv(1000); a.sendall(b'y' * 50); c.recv(100)
    c.close(); a.close(); l.close()
icmp = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_ICMP)
body = struct.pack('!BBHHH', 8, 0, 0, 0x1234, 1) + b'ping'
icmp.sendto(struct.pack('!BBHHH', 8, 0, inet_sum(body), 0x1234, 1) + b'ping', ('127.0.0.1', 0))
icmp6 = socket.socket(socket.AF_INET6, socket.SOCK_RAW, socket.IPPROTO_ICMPV6)
# A fresh namespace's IPv6 loopback may still be settling: ask a few times.
import time
for attempt in range(5):
    icmp6.sendto(struct.pack('!BBHHH', 128, 0, 0, 0x1234, 1 + attempt) + b'ping', ('::1', 0))
    time.sleep(0.2)
)"));
    // The ICMPv6 echoes are sent last: once one is decoded, every frame is
    // in. On a loaded machine the fresh namespace has been seen to lose them
    // (ICMPv6 verdicts are also checked on built frames); the rest of the
    // comparison stands on its own.
    bool echoes_seen = test::wait_for_output(child, "- ICMPv6 Header -", 10);
    if (!echoes_seen) std::cout << "no ICMPv6 echo was captured in this run\n";
    kill(child.pid, SIGINT);
    auto r = test::finish_nodrix(child, 20);
    ASSERT_EQ(r.status, 0) << r.err;

    auto text = test::run_nodrix({"-P", dir.file("live.pcap"), "--calc-checksums"});
    EXPECT_EQ(text.out.find("incorrect checksum"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("- IPv6 Header -"), std::string::npos);
    if (echoes_seen) {
        EXPECT_NE(text.out.find("- ICMPv6 Header -"), std::string::npos);
    }
    size_t judged = 0;
    for (const char* verdict : {"(correct checksum)", "(checksum offloaded)"})
        for (size_t at = text.out.find(verdict); at != std::string::npos; at = text.out.find(verdict, at + 1)) ++judged;
    EXPECT_GT(judged, 20u);

    comparison c = compare(dir.file("live.pcap"));
    EXPECT_TRUE(c.differences.empty()) << [&] {
        std::string all;
        for (const auto& d : c.differences) all += d + "\n";
        return all;
    }();
    EXPECT_GT(c.compared, 200);
    std::cout << "compared " << c.compared << " fields; " << c.offloaded
              << " checksums nodrix names offloaded and tshark calls bad\n";
}
