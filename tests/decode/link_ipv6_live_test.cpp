// Real traffic from the kernel: a bridge with STP on one end of a veth
// pair, neighbour discovery, MLDv2 reports and router solicitations on
// another, in two network namespaces the test makes and removes. The
// capture goes through nodrix and tshark; the main fields agree.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "peer.h"
#include "support.h"

namespace {

std::string script(const std::string& dir) {
    std::string n = "nxl" + std::to_string(getpid());
    return "set -e\n"
           "N=" +
           n +
           "\n"
           "ip netns add ${N}a; ip netns add ${N}b\n"
           "trap 'ip netns del ${N}a; ip netns del ${N}b' EXIT\n"
           "ip link add a1 netns ${N}a type veth peer name b1 netns ${N}b\n"
           "ip link add a2 netns ${N}a type veth peer name b2 netns ${N}b\n"
           "ip netns exec ${N}b ip link add br0 type bridge stp_state 1 hello_time 100\n"
           "ip netns exec ${N}b ip link set b2 master br0\n"
           "for n in a b; do ip netns exec ${N}$n sysctl -qw net.ipv6.conf.all.disable_ipv6=0; done\n"
           "ip netns exec ${N}a ip link set a1 up; ip netns exec ${N}a ip link set a2 up\n"
           "for l in b1 b2 br0; do ip netns exec ${N}b ip link set $l up; done\n"
           "ip netns exec ${N}a ip addr add 2001:db8::1/64 dev a1 nodad\n"
           "ip netns exec ${N}b ip addr add 2001:db8::2/64 dev b1 nodad\n"
           "ip netns exec ${N}a timeout 5 tcpdump -U -q -i a1 -w " +
           dir +
           "/nd.pcap 2>" + dir + "/nd.err &\n"
           "ip netns exec ${N}a timeout 5 tcpdump -U -q -i a2 -w " +
           dir +
           "/stp.pcap 2>" + dir + "/stp.err &\n"
           // Both say when they listen; a slow machine may take a while.
           "for i in $(seq 40); do grep -qs 'listening on' " + dir + "/nd.err && grep -qs 'listening on' " + dir +
           "/stp.err && break; sleep 0.1; done\n"
           "sleep 0.3\n"
           // A datagram to the peer's address makes the kernel ask for its MAC.
           "ip netns exec ${N}a /usr/bin/python3 -c \"import socket; "
           "socket.socket(socket.AF_INET6, socket.SOCK_DGRAM).sendto(b'x', ('2001:db8::2', 9))\"\n"
           "wait\n";
}

std::vector<std::string> json_lines(const std::string& pcap) {
    std::vector<std::string> lines;
    for (const auto& line : test::nodrix_json_lines(pcap))
        if (line.rfind("{\"frame\":", 0) == 0) lines.push_back(line);
    return lines;
}

TEST(LinkIpv6Live, KernelStpAndNeighbourDiscoveryAgreeWithTshark) {
    if (!test::running_as_root()) GTEST_SKIP() << "needs root for network namespaces";
    if (system("command -v tcpdump >/dev/null 2>&1") != 0) GTEST_SKIP() << "tcpdump is not installed";
    if (!test::tshark_available()) GTEST_SKIP() << "tshark is not installed";
    test::temp_dir dir;
    test::write_file(dir.file("live.sh"), [&] {
        std::string s = script(dir.path);
        return test::bytes(s.begin(), s.end());
    }());
    ASSERT_EQ(system(("bash " + dir.file("live.sh") + " >/dev/null 2>&1").c_str()), 0);

    // The bridge's configuration BPDUs: root id as tshark reads it.
    auto stp_rows = test::tshark_fields(dir.file("stp.pcap"), {"stp.root.prio", "stp.root.ext", "stp.root.hw"}, "stp");
    std::vector<std::string> stp_lines;
    for (const auto& line : json_lines(dir.file("stp.pcap")))
        if (line.find("\"stp\":{") != std::string::npos) stp_lines.push_back(line);
    ASSERT_GE(stp_lines.size(), 2u);
    ASSERT_EQ(stp_lines.size(), stp_rows.size());
    for (size_t i = 0; i < stp_lines.size(); ++i) {
        EXPECT_EQ(test::json_field(stp_lines[i], "stp", "root_priority"), stp_rows[i][0]);
        EXPECT_EQ(test::json_field(stp_lines[i], "stp", "root_system_id"), stp_rows[i][1]);
        EXPECT_EQ(test::json_field(stp_lines[i], "stp", "root_mac"), stp_rows[i][2]);
    }

    // Neighbour solicitations and advertisements: target and link-layer
    // address option; MLDv2 reports: the record addresses.
    auto nd_rows = test::tshark_fields(
        dir.file("nd.pcap"),
        {"icmpv6.type", "icmpv6.nd.ns.target_address", "icmpv6.nd.na.target_address", "icmpv6.opt.linkaddr",
         "icmpv6.mldr.mar.multicast_address"},
        "icmpv6.type == 133 || icmpv6.type == 134 || icmpv6.type == 135 || icmpv6.type == 136 || icmpv6.type == 143");
    std::vector<std::string> nd_lines;
    for (const auto& line : json_lines(dir.file("nd.pcap")))
        if (line.find("\"icmpv6_nd\":{") != std::string::npos ||
            line.find("\"mldv2\":{") != std::string::npos)
            nd_lines.push_back(line);
    ASSERT_EQ(nd_lines.size(), nd_rows.size());
    int solicitations = 0, advertisements = 0;
    for (size_t i = 0; i < nd_lines.size(); ++i) {
        const std::string& line = nd_lines[i];
        const auto& row = nd_rows[i];
        if (row[0] == "143") {
            std::string addresses;
            for (size_t at = line.find("\"address\":\""); at != std::string::npos;
                 at = line.find("\"address\":\"", at + 1)) {
                size_t start = at + 11;
                addresses += (addresses.empty() ? "" : ",") + line.substr(start, line.find('"', start) - start);
            }
            EXPECT_EQ(addresses, row[4]) << line;
            continue;
        }
        solicitations += row[0] == "135";
        advertisements += row[0] == "136";
        EXPECT_EQ(test::json_field(line, "icmpv6_nd", "target"), row[1] + row[2]) << line;
        EXPECT_EQ(test::json_field(line, "icmpv6_nd", "link_address"), row[3]) << line;
    }
    EXPECT_GE(solicitations, 1);
    EXPECT_GE(advertisements, 1);
}

}  // namespace
