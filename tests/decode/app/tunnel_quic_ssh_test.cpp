// VXLAN, Geneve, QUIC and SSH from frames scapy builds, against text written
// from RFC 7348, RFC 8926, RFC 9000/9369 and RFC 4253, and against tshark.
#include <gtest/gtest.h>

#include "../../peer.h"
#include "stream_frames.h"
#include "decode/link/ethernet.h"

namespace {

// Inner frame of both tunnels: an ICMP echo request 10.0.0.1 > 10.0.0.2.
const char* script = R"(
from scapy.all import *
import sys
inner = Ether(src="02:00:00:00:00:02", dst="02:00:00:00:00:01")/IP(src="10.0.0.1", dst="10.0.0.2", id=1)/ICMP(id=7, seq=1)/b"ping"
def outer():
    return Ether(src="02:00:00:00:01:02", dst="02:00:00:00:01:01")/IP(src="192.0.2.1", dst="192.0.2.2", id=2)
payload = bytes(range(256)) * 5
frames = [
  # VXLAN: I flag, VNI 42.
  outer()/UDP(sport=40000, dport=4789)/bytes.fromhex("0800000000002a00")/inner,
  # Geneve: one 4-byte option (class 0x0102, type 0x80), Ethernet inside, VNI 4242.
  outer()/UDP(sport=40001, dport=6081)/bytes.fromhex("0200655800109200" "01028001deadbeef")/inner,
  # QUIC v1 Initial (the header of RFC 9001 A.2): DCID 8394c8f03e515708, no SCID, no token, length 1182.
  outer()/UDP(sport=50000, dport=443)/(bytes.fromhex("c000000001088394c8f03e5157080000449e") + payload[:1182]),
  # QUIC v2 Initial and 0-RTT coalesced, on a port that is not 443.
  outer()/UDP(sport=50001, dport=4433)/(bytes.fromhex("d06b3343cf04a1b2c3d404e5f6a7b8004010") + payload[:16]
      + bytes.fromhex("e06b3343cf04a1b2c3d404e5f6a7b84008") + payload[:8]),
  # Version Negotiation offering v1 and v2.
  outer()/UDP(sport=443, dport=50002)/bytes.fromhex("80000000000408090a0b00000000016b3343cf"),
  # A short header (1-RTT).
  outer()/UDP(sport=443, dport=50002)/(bytes.fromhex("41a1b2c3d4") + payload[:30]),
  # SSH: version line, a NEWKEYS packet in the clear, then an encrypted one.
  outer()/TCP(sport=50022, dport=22, flags="PA", seq=1, ack=1)/b"SSH-2.0-OpenSSH_9.2p1 Debian-2\r\n",
  outer()/TCP(sport=22, dport=50022, flags="PA", seq=1, ack=1)/(bytes.fromhex("0000000c0a15") + bytes(10)),
  outer()/TCP(sport=22, dport=50022, flags="PA", seq=1, ack=1)/payload[7:71],
]
wrpcap(sys.argv[1] if len(sys.argv) > 1 else "/dev/null", frames)
)";

struct built_capture {
    test::temp_dir dir;
    std::string pcap = dir.file("built.pcap");
    bool made = false;
    built_capture() {
        std::string s = script;
        s.replace(s.find("sys.argv[1] if len(sys.argv) > 1 else \"/dev/null\""),
                  strlen("sys.argv[1] if len(sys.argv) > 1 else \"/dev/null\""), "'" + pcap + "'");
        made = test::run_python(s);
    }
};

TEST(TunnelQuicSsh, TextFromTheRfcLayouts) {
    if (!test::scapy_available()) GTEST_SKIP() << "python3 with scapy is not installed";
    built_capture c;
    ASSERT_TRUE(c.made);
    struct {
        std::vector<std::string> args;
        const char* banner;
        size_t nth;
        const char* want;
    } cases[] = {
        {{}, "- VXLAN Header -", 0, "- VXLAN Header -\n  Flags: 0x08, VNI: 42\n\n- Ethernet Header -\n- IPv4 Header -"},
        {{"--expand-all", "--verbose"},
         "- VXLAN Header -",
         0,
         "- VXLAN Header -\n  Flags: 0x08 (I), VNI: 42\n  Reserved: 0x000000, 0x00\n\n- Ethernet Header -\n"
         "  MAC Dst: 02:00:00:00:00:01"},
        {{}, "- Geneve Header -", 0, "- Geneve Header -\n  Protocol: 0x6558, VNI: 4242\n\n- Ethernet Header -\n"},
        {{"--expand-all", "--verbose"},
         "- Geneve Header -",
         0,
         "- Geneve Header -\n  Version: 0, Options Length: 8, Flags: 0x00\n"
         "  Protocol: 0x6558 (Transparent Ethernet Bridging), VNI: 4242\n"
         "  Option: Class 0x0102, Type 0x80, Length: 4\n    Data: de ad be ef\n\n- Ethernet Header -\n"},
        {{"--verbose"},
         "- QUIC Packet -",
         0,
         "- QUIC Packet -\n  Header Form: 1 (Long), Packet Type: 0 (Initial)\n  Version: 0x00000001 (QUIC v1)\n"
         "  DCID Length: 8, DCID: 8394c8f03e515708\n  SCID Length: 0\n  Token Length: 0\n"
         "  Length: 1182 (protected payload)\n"},
        {{"--verbose"},
         "- QUIC Packet -",
         1,
         "- QUIC Packet -\n  Header Form: 1 (Long), Packet Type: 1 (Initial)\n  Version: 0x6b3343cf (QUIC v2)\n"
         "  DCID Length: 4, DCID: a1b2c3d4\n  SCID Length: 4, SCID: e5f6a7b8\n  Token Length: 0\n"
         "  Length: 16 (protected payload)\n  Header Form: 1 (Long), Packet Type: 2 (0-RTT)\n"
         "  Version: 0x6b3343cf (QUIC v2)\n  DCID Length: 4, DCID: a1b2c3d4\n  SCID Length: 4, SCID: e5f6a7b8\n"
         "  Length: 8 (protected payload)\n"},
        {{},
         "- QUIC Packet -",
         2,
         "- QUIC Packet -\n  Header Form: 1 (Long)\n  Version: 0x00000000\n  DCID Length: 4, DCID: 08090a0b\n"
         "  SCID Length: 0\n  Supported Versions: 0x00000001 0x6b3343cf\n"},
        {{}, "- QUIC Packet -", 3, "- QUIC Packet -\n  Header Form: 0 (Short, 1-RTT)\n  Protected: 35 bytes\n"},
        {{}, "- SSH -", 0, "- SSH -\n  Version: SSH-2.0-OpenSSH_9.2p1 Debian-2\n"},
        {{"--verbose"}, "- SSH -", 1, "- SSH -\n  Packet Length: 12, Padding: 10\n  Message: 21 (NEWKEYS)\n"},
        {{}, "- SSH -", 2, "- SSH -\n  Encrypted Packet, Length: 64\n"},
    };
    for (const auto& k : cases) {
        std::vector<std::string> args = {"-P", c.pcap};
        args.insert(args.end(), k.args.begin(), k.args.end());
        test::run_result r = test::run_nodrix(args);
        ASSERT_EQ(r.status, 0) << r.err;
        std::string got = streamf::block(r.out, k.banner, k.nth);
        EXPECT_EQ(got.substr(0, strlen(k.want)), k.want) << k.banner << " " << k.nth;
    }
    test::run_result s = test::run_nodrix({"-P", c.pcap, "--summary"});
    for (const char* fact : {"QUIC Initial QUIC v1 DCID 8394c8f03e515708 (",
                             "QUIC Initial QUIC v2 DCID a1b2c3d4, 0-RTT QUIC v2 DCID a1b2c3d4 (",
                             "QUIC Version Negotiation DCID 08090a0b (", "SSH SSH-2.0-OpenSSH_9.2p1 Debian-2 (",
                             "10.0.0.1 > 10.0.0.2 ICMP Echo request"})
        EXPECT_NE(s.out.find(fact), std::string::npos) << fact << "\n" << s.out;
}

TEST(TunnelQuicSsh, JsonAndEveryPrefix) {
    if (!test::scapy_available()) GTEST_SKIP() << "python3 with scapy is not installed";
    built_capture c;
    ASSERT_TRUE(c.made);
    for (const std::string& line : test::nodrix_json_lines(c.pcap)) EXPECT_TRUE(test::valid_json(line)) << line;
    for (const test::bytes& frame : streamf::pcap_frames(c.pcap)) {
        test::reset({"expand-all", "verbose"});
        EXPECT_GT(test::decode_all_prefixes(decode_ethernet, frame, 14), 0);
        for (size_t n = 0; n <= frame.size(); ++n) {
            test::reset({"json"});
            std::string line = test::decode_record(decode_ethernet, test::bytes(frame.begin(), frame.begin() + n), 14);
            ASSERT_TRUE(test::valid_json(line)) << n << ": " << line;
        }
    }
}

// tshark's fields against ours, frame by frame. Differences, all of them
// tshark's (4.0): it shows connection ids with colons in some versions
// (normalised here) and the Geneve VNI in hex; it stops after the header
// form of a QUIC v2 packet, and shows a Version Negotiation or a short
// header only inside a connection it has seen, so those frames have no
// tshark values to compare.
TEST(TunnelQuicSsh, AgreesWithTshark) {
    if (!test::scapy_available() || !test::tshark_available()) GTEST_SKIP() << "scapy or tshark is not installed";
    built_capture c;
    ASSERT_TRUE(c.made);
    auto rows = test::tshark_fields(c.pcap, {"vxlan.vni", "geneve.vni", "quic.version", "quic.dcid", "quic.scid"}, "",
                                    {"-d", "udp.port==4433,quic"});
    std::vector<std::string> lines = test::nodrix_json_lines(c.pcap);
    ASSERT_EQ(rows.size(), lines.size());
    auto plain = [](std::string s) {
        std::string out;
        for (char ch : s)
            if (ch != ':') out += ch;
        return out;
    };
    auto first = [](const std::string& list) { return list.substr(0, list.find(',')); };
    EXPECT_EQ(rows[0][0], test::json_field(lines[0], "vxlan", "vni"));
    ASSERT_FALSE(rows[1][1].empty());
    EXPECT_EQ(std::to_string(std::stoul(rows[1][1], nullptr, 16)), test::json_field(lines[1], "geneve", "vni"));
    int compared = 0;
    for (size_t i = 2; i < rows.size(); ++i) {
        if (rows[i][2].empty()) continue;
        ++compared;
        std::string version = test::json_field(lines[i], "quic", "version");
        EXPECT_EQ(std::stoul(first(rows[i][2]), nullptr, 16), std::stoul(version)) << i;
        EXPECT_EQ(plain(first(rows[i][3])), test::json_field(lines[i], "quic", "dcid")) << i;
        EXPECT_EQ(plain(first(rows[i][4])), test::json_field(lines[i], "quic", "scid")) << i;
    }
    EXPECT_GE(compared, 1);
}

}  // namespace
