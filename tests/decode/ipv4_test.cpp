#include <gtest/gtest.h>

#include "decode/decoder.h"
#include "ip_frames.h"

namespace {

using test::bytes;
using test::hex;

TEST(Ipv4, HeaderLinesPlainAndVerbose) {
    bytes packet = ipf::ipv4(253, hex("0102"));
    std::string checksum = ipf::hex16(ipf::be16_at(packet, 10));
    test::reset();
    EXPECT_EQ(ipf::decode_ip(packet),
              "\n- IPv4 Header -\n  Version: 4, Hdr-Len: 5, Length: 22\n  TTL: 64, TOS: 0x00, ID: 1\n  Frag.: 0x0"
              "\n  Src IP: 192.168.1.10\n  Dst IP: 10.0.0.200\n  Protocol: 253\n  Checksum: " +
                  checksum + "\n");
    test::reset({"verbose", "statistic"});
    EXPECT_EQ(ipf::decode_ip(packet),
              "\n- IPv4 Header -\n  Version: 4, Hdr-Len: 5, Length: 22\n  TTL: 64, TOS: 0x00 (default|Not-ECT), ID: 1"
              "\n  Frag.: 0x0\n  Src IP: 192.168.1.10\n  Dst IP: 10.0.0.200\n  Protocol: 253 (unknown)\n  Checksum: " +
                  checksum + "\n");
    EXPECT_EQ(counters.ipv4, 1u);
}

TEST(Ipv4, TypeOfServiceAndEcnUnderVerbose) {
    // The name comes from the four RFC 1349 bits above the lowest bit, the
    // ECN text from the two lowest bits.
    struct {
        uint8_t tos;
        const char* text;
    } cases[] = {
        {0x00, "TOS: 0x00 (default|Not-ECT)"},  {0x03, "TOS: 0x03 (min cost|CE)"},
        {0x10, "TOS: 0x10 (min del.|Not-ECT)"}, {0x1e, "TOS: 0x1e (max sec.|ECT[0])"},
        {0xb8, "TOS: 0xb8 (unknown|Not-ECT)"},  {0xe1, "TOS: 0xe1 (default|ECT[1])"},
    };
    for (const auto& c : cases) {
        bytes packet = ipf::ipv4(253, {});
        packet[1] = c.tos;
        test::reset({"verbose"});
        EXPECT_EQ(ipf::slice(ipf::decode_ip(packet), "TOS:", ", ID"), c.text);
        test::reset();
        EXPECT_EQ(ipf::slice(ipf::decode_ip(packet), "TOS:", ", ID").size(), 9u) << "no names without --verbose";
    }
}

TEST(Ipv4, FlagsAndFragments) {
    struct {
        uint16_t word;
        bool verbose;
        const char* frag_line;
        bool payload_decoded;
    } cases[] = {
        {0x4000, true, "Frag.: 0x4000 (dont frag. )", true},
        {0x2000, true, "Frag.: 0x2000 (more frag. )", true},
        {0xe000, true, "Frag.: 0xe000 (res. frag. dont frag. more frag. )", true},
        {0x00b9, true, "Frag.: 0xb9 [Offset=1480]", false},
        {0x20b9, false, "Frag.: 0x20b9 [Offset=1480]", false},
    };
    for (const auto& c : cases) {
        bytes packet = ipf::ipv4(17, ipf::udp(hex("41")));
        test::put_be16(packet, 6, c.word);
        if (c.verbose)
            test::reset({"verbose"});
        else
            test::reset();
        std::string out = ipf::decode_ip(packet);
        EXPECT_EQ(ipf::slice(out, "Frag.:", "\n"), c.frag_line);
        EXPECT_EQ(out.find("- UDP Header -") != std::string::npos, c.payload_decoded) << c.frag_line;
    }
}

TEST(Ipv4, OptionsWalk) {
    struct {
        const char* options;
        bool verbose;
        const char* text;
    } cases[] = {
        {"01010101", false, "\n  Options: [ <NOP> <NOP> <NOP> <NOP> ]"},
        {"01010101", true, "\n  Options(4 bytes): [ <No Operation> <No Operation> <No Operation> <No Operation> ]"},
        {"94040000", true, "\n  Options(4 bytes): [ <Router Alert Length=4> ]"},
        {"0107 0700 00000000 01000000", false, "\n  Options: [ <NOP> <RR Length=7> <NOP> <EOOL> ]"},
        {"00010101", true, "\n  Options(4 bytes): [ <End of Option List> ]"},
        // Unknown types and lengths that cannot move the cursor end the walk.
        {"01ee0401", false, "\n  Options: [ <NOP> <Unknown> ]"},
        {"07000101", false, "\n  Options: [ <Unknown> ]"},
        // A length running past the options ends the walk as well.
        {"01832800", false, "\n  Options: [ <NOP> <LSR Length=40> ]"},
    };
    for (const auto& c : cases) {
        bytes packet = ipf::ipv4(253, {}, hex(c.options));
        if (c.verbose)
            test::reset({"verbose"});
        else
            test::reset();
        std::string out = ipf::decode_ip(packet);
        EXPECT_EQ(ipf::slice(out, "\n  Options", " ]") + " ]", c.text) << c.options;
        EXPECT_EQ(out.substr(out.size() - 3), " ]\n");
    }
}

TEST(Ipv4, HeaderLengthBelowFiveStopsTheFrame) {
    bytes packet = ipf::ipv4(17, ipf::udp(hex("41")));
    packet[0] = 0x44;
    test::reset({"statistic", "print-ip-hex"});
    std::string out = ipf::decode_ip(packet);
    EXPECT_EQ(out.substr(out.find("  Checksum:")),
              "  Checksum: " + ipf::hex16(ipf::be16_at(packet, 10)) + "\n  Error: bad header length");
    EXPECT_EQ(counters.ipv4, 1u);
    EXPECT_EQ(counters.ipv4_error, 1u);
    EXPECT_EQ(counters.udp, 0u);
}

TEST(Ipv4, NestedHeaders) {
    // IPv4 in IPv4: the inner header sits behind the outer one.
    bytes inner = ipf::ipv4(253, hex("414243"));
    inner[12] = 10;  // a source the outer header does not have
    test::reset();
    std::string out = ipf::decode_ip(ipf::ipv4(4, inner));
    EXPECT_NE(out.find("Protocol: 4\n  Checksum: "), std::string::npos);
    EXPECT_NE(out.find("\n\n- IPv4 Header -\n  Version: 4, Hdr-Len: 5, Length: 23\n"), std::string::npos);
    EXPECT_NE(out.find("Src IP: 10.168.1.10"), std::string::npos);

    // IPv6 in IPv4 follows the checksum line without a blank line.
    out = ipf::decode_ip(ipf::ipv4(41, ipf::ipv6(59, {})));
    EXPECT_NE(out.find("  Protocol: 41\n  Checksum: " + ipf::hex16(ipf::be16_at(ipf::ipv4(41, ipf::ipv6(59, {})), 10)) +
                       "\n- IPv6 Header -\n"),
              std::string::npos)
        << out;
}

TEST(Ipv4, HeaderChecksumVerdicts) {
    bytes good = ipf::ipv4(253, hex("0000"), hex("94040000"));
    bytes bad = good;
    bad[8] = 63;  // TTL changed in transit, checksum not updated
    bytes recomputed = bad;
    recomputed[10] = recomputed[11] = 0;
    uint16_t expected = test::inet_checksum(bytes(recomputed.begin(), recomputed.begin() + 24));

    test::reset({"calc-checksums", "statistic"});
    EXPECT_NE(ipf::decode_ip(good).find(ipf::hex16(ipf::be16_at(good, 10)) + " (correct checksum)\n  Options"),
              std::string::npos);
    EXPECT_NE(ipf::decode_ip(bad).find(ipf::hex16(ipf::be16_at(bad, 10)) + " (incorrect checksum - should be " +
                                       ipf::hex16(expected) + ")\n"),
              std::string::npos);
    EXPECT_EQ(counters.ipv4_bad, 1u);

    // Options cut by the snap length: no verdict, nothing counted.
    std::string cut = ipf::decode_ip(good, 22, static_cast<long>(good.size()));
    EXPECT_EQ(cut.find("checksum)"), std::string::npos) << cut;
    EXPECT_EQ(counters.ipv4_bad, 1u);

    // Without --calc-checksums: no verdict.
    test::reset({"statistic"});
    EXPECT_EQ(ipf::decode_ip(bad).find("checksum)"), std::string::npos);
    EXPECT_EQ(counters.ipv4_bad, 0u);
}

TEST(Ipv4, IpHexDump) {
    bytes packet = ipf::ipv4(253, hex("0001020304050607 08090a0b0c0d"), hex("01010101"));
    test::reset({"print-ip-hex"});
    // From byte 20 (the options included) to the end of the frame.
    std::string want = "\n\n0x0001: 01 01 01 01 00 01 02 03 04 05 06 07\n0x0002: 08 09 0a 0b 0c 0d\n";
    std::string out = ipf::decode_ip(packet);
    EXPECT_EQ(out.substr(out.size() - want.size()), want);

    // Cut at the captured bytes although the wire length is longer.
    out = ipf::decode_ip(packet, 30, 100);
    EXPECT_EQ(ipf::slice(out, "\n0x0001"), "\n0x0001: 01 01 01 01 00 01 02 03 04 05\n");

    // A transport dump option takes its place.
    for (const char* flag : {"print-tcp-hex", "print-tcp-text", "print-udp-hex", "print-udp-text"}) {
        test::reset({"print-ip-hex", flag});
        EXPECT_EQ(ipf::decode_ip(packet).find("0x0001"), std::string::npos) << flag;
    }
}

TEST(IpVersion, DispatchOnTheFirstNibble) {
    test::reset();
    EXPECT_EQ(ipf::decode_ip(hex("55000000")), "Unknown IP version: 5.\n");
    EXPECT_EQ(ipf::decode_ip(hex("05000000")), "Unknown IP version: 0.\n");
    EXPECT_EQ(ipf::decode_ip(ipf::ipv4(253, {})).substr(0, 16), "\n- IPv4 Header -");
    EXPECT_EQ(ipf::decode_ip(ipf::ipv6(59, {})).substr(0, 16), "\n- IPv6 Header -");
    // On a link with a header (DLT_NULL) the version sits behind it.
    EXPECT_EQ(test::decode(decode_ip_version, test::concat({hex("02000000"), ipf::ipv6(59, {})}), 4).substr(0, 16),
              "\n- IPv6 Header -");
}

}  // namespace
