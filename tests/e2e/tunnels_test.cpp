// Tunnelled frames decode every layer, the inner ones included, and each
// layer is counted once.
#include <gtest/gtest.h>

#include "decode/ip_frames.h"

namespace {

using test::bytes;

struct run_output {
    std::string frame;   // the decoded text behind the frame line
    std::string report;  // the statistics report
};

run_output run_on(const bytes& frame) {
    test::temp_dir dir;
    test::write_file(dir.file("t.pcap"), test::pcap_file({{frame}}));
    auto r = test::run_nodrix({"-P", dir.file("t.pcap"), "--statistic", "--calc-checksums"});
    EXPECT_EQ(r.status, 0);
    auto start = r.out.find('\n', r.out.find("Received frame 1("));
    auto report = r.out.find("\n\n---------- Statistics ----------");
    if (start == std::string::npos || report == std::string::npos) return {r.out, ""};
    return {r.out.substr(start + 1, report - start - 1), r.out.substr(report)};
}

std::string ipv4_lines(const bytes& packet) {
    return "\n- IPv4 Header -\n  Version: 4, Hdr-Len: 5, Length: " + std::to_string(ipf::be16_at(packet, 2)) +
           "\n  TTL: 64, TOS: 0x00, ID: 1\n  Frag.: 0x0\n  Src IP: 192.168.1.10\n  Dst IP: 10.0.0.200\n  Protocol: " +
           std::to_string(packet[9]) + "\n  Checksum: " + ipf::hex16(ipf::be16_at(packet, 10)) +
           " (correct checksum)\n";
}

const bytes echo = ipf::icmp(8, 0, test::hex("0007 0007 74756e6e656c"));
const std::string echo_lines =
    "- ICMPv4 Header -\n  Type: 8\n  Code: 0\n  Checksum: " + ipf::hex16(ipf::be16_at(echo, 2)) +
    " (correct checksum)\n  Identifier: 7, Seq.: 7\n";

TEST(Tunnels, Ipv4InGreInIpv4) {
    bytes inner = ipf::ipv4(1, echo);
    bytes outer = ipf::ipv4(47, test::concat({test::hex("0000 0800"), inner}));
    auto out = run_on(ipf::ethernet(0x0800, outer));
    EXPECT_EQ(out.frame, "\n- Ethernet Header -" + ipv4_lines(outer) +
                             "- GREv0 Header -\n  Version: 0\n  Checksum present: 0, Routing present: 0, Key present: "
                             "0\n  Sequence present: 0, Strict source route: 0, Recursion control: 0\n  Protocol: "
                             "0x0800\n" +
                             ipv4_lines(inner) + echo_lines);
    for (const char* row :
         {"\nEthernet II\t1(0|)", "\nIPv4\t\t2(|0|0)", "\nICMPv4\t\t1(||0)", "\nGREv0\t\t1\t\tGREv1\t\t0"})
        EXPECT_NE(out.report.find(row), std::string::npos) << row << out.report;
}

TEST(Tunnels, EthernetInEtherIp) {
    bytes inner = ipf::ipv4(1, echo);
    bytes outer = ipf::ipv4(97, test::concat({test::hex("0300"), ipf::ethernet(0x0800, inner)}));
    auto out = run_on(ipf::ethernet(0x0800, outer));
    EXPECT_EQ(out.frame, "\n- Ethernet Header -" + ipv4_lines(outer) +
                             "- EtherIP Header -\n  Version: 3,   Reserved: 0\n- Ethernet Header -" +
                             ipv4_lines(inner) + echo_lines);
    for (const char* row : {"\nEthernet II\t2(0|)", "\nIPv4\t\t2(|0|0)", "\nICMPv4\t\t1(||0)", "\tEtherIP\t\t1\n"})
        EXPECT_NE(out.report.find(row), std::string::npos) << row << out.report;
}

}  // namespace
