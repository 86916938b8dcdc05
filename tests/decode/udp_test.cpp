#include <gtest/gtest.h>

#include "decode/decoder.h"
#include "ip_frames.h"

namespace {

using test::bytes;
using test::hex;

std::string udp_part(const std::string& out) { return ipf::slice(out, "- UDP Header -"); }

TEST(Udp, HeaderLines) {
    bytes datagram = ipf::udp(hex("41"), 40001, 40002);
    test::reset({"statistic"});
    EXPECT_EQ(udp_part(ipf::decode_ip(ipf::ipv4(17, datagram))),
              "- UDP Header -\n  Src Port: 40001, Dst Port: 40002\n  Length: 9, Checksum: " +
                  ipf::hex16(ipf::be16_at(datagram, 6)) + "\n");
    EXPECT_EQ(counters.udp, 1u);
    test::reset({"verbose"});
    EXPECT_NE(ipf::decode_ip(ipf::ipv4(17, datagram)).find("  Src Port: 40001 (unknown), Dst Port: 40002 (unknown)\n"),
              std::string::npos);
}

TEST(Udp, ChecksumVerdicts) {
    bytes datagram = ipf::udp(hex("0102030405"));
    uint16_t good = ipf::be16_at(datagram, 6);
    struct {
        const char* name;
        bytes packet;
        long captured;
        const char* verdict;  // nullptr: the line ends without one
        bool counted;
    } cases[] = {
        {"intact", ipf::ipv4(17, datagram), -1, " (correct checksum)\n", false},
        {"payload byte flipped",
         ipf::ipv4(17,
                   [&] {
                       bytes b = datagram;
                       b[9] ^= 0xff;
                       return b;
                   }()),
         -1, "should be", true},
        // The sender computed no checksum.
        {"field 0",
         ipf::ipv4(17,
                   [&] {
                       bytes b = datagram;
                       b[6] = b[7] = 0;
                       return b;
                   }()),
         -1, nullptr, false},
        {"cut by the snap length", ipf::ipv4(17, datagram), 30, nullptr, false},
        // The IPv6 pseudo-header differs from the IPv4 one the value was made for.
        {"behind IPv6", ipf::ipv6(17, datagram), -1, "should be", true},
    };
    for (const auto& c : cases) {
        test::reset({"calc-checksums", "statistic"});
        long wire = c.captured < 0 ? -1 : static_cast<long>(c.packet.size());
        std::string line = ipf::slice(ipf::decode_ip(c.packet, c.captured, wire), "  Length:", "\n") + "\n";
        if (!c.verdict)
            EXPECT_EQ(line.find(" ("), std::string::npos) << c.name;
        else
            EXPECT_NE(line.find(c.verdict), std::string::npos) << c.name << ": " << line;
        EXPECT_EQ(counters.udp_bad, c.counted ? 1u : 0u) << c.name;
    }

    // The expected value is the checksum of the datagram as received.
    bytes flipped_payload = hex("0102030405");
    flipped_payload[1] ^= 0xff;
    uint16_t should_be = ipf::be16_at(ipf::udp(flipped_payload), 6);
    bytes received = datagram;
    received[9] ^= 0xff;
    test::reset({"calc-checksums"});
    EXPECT_NE(ipf::decode_ip(ipf::ipv4(17, received))
                  .find("Checksum: " + ipf::hex16(good) + " (incorrect checksum - should be " + ipf::hex16(should_be) +
                        ")\n"),
              std::string::npos);
}

TEST(Udp, PayloadDumps) {
    bytes frame = ipf::ethernet(0x0800, ipf::ipv4(17, ipf::udp(hex("6162"))));
    frame.resize(60, 0xee);  // Ethernet padding belongs to the frame's dump
    test::reset({"print-udp-hex"});
    EXPECT_EQ(ipf::slice(ipf::decode_ethernet_frame(frame), "\n0x0001"),
              "\n0x0001: 61 62 ee ee ee ee ee ee ee ee ee ee\n0x0002: ee ee ee ee ee ee\n");
    test::reset({"print-udp-text"});
    std::string out = ipf::decode_ethernet_frame(frame);
    EXPECT_EQ(out.substr(out.size() - 22), " \n ab................\n");
    test::reset({"print-udp-text", "print-udp-hex"});
    out = ipf::decode_ethernet_frame(frame);
    EXPECT_EQ(ipf::slice(out, "  Length:").size(), 31u) << "no dump behind the checksum line";
    // Cut at the captured bytes.
    test::reset({"print-udp-hex"});
    EXPECT_EQ(ipf::slice(ipf::decode_ethernet_frame(frame, 44, 60), "\n0x0001"), "\n0x0001: 61 62\n");
}

TEST(Sctp, CommonHeader) {
    bytes packet = ipf::ipv4(132, hex("0050 1f90 deadbeef 01020304 00000000"));
    test::reset({"statistic"});
    EXPECT_EQ(
        ipf::slice(ipf::decode_ip(packet), "- SCTP"),
        "- SCTP Header -\n  Src Port: 80, Dst Port: 8080\n  Verification Tag: 0xdeadbeef, Checksum: 0x01020304\n");
    EXPECT_EQ(counters.sctp, 1u);
}

}  // namespace
