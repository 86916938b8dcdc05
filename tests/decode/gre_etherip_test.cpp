#include <gtest/gtest.h>

#include "decode/decoder.h"
#include "decode/ip/etherip.h"
#include "decode/ip/gre.h"
#include "decode/ip/ipv4.h"
#include "ip_frames.h"

namespace {

using test::bytes;

TEST(Gre, VersionsFlagsAndCounters) {
    struct {
        const char* header;
        const char* want;
        uint32_t grev0, grev1;
    } cases[] = {
        // Flags show their masked values; an unknown type ends with "\n".
        // The flags announce checksum and offset, key, sequence number and
        // a routing list (one null entry), shown and skipped.
        {"ff00 1234 abcd 0000 00000007 00000009 00000000",
         "- GREv0 Header -\n  Version: 0\n  Checksum present: 32768, Routing present: 16384, Key present: 8192\n  "
         "Sequence present: 4096, Strict source route: 2048, Recursion control: 1792\n  Protocol: 0x1234 (unknown "
         "type)\n  Checksum: 0xabcd\n  Offset: 0\n  Key: 0x00000007\n  Sequence Number: 9\n\n",
         1, 0},
        {"3081 880a 0010 0020 00000003 00000004",
         "- GREv1 Header -\n  Version: 1\n  Checksum present: 0, Routing present: 0, Key present: 8192\n  Sequence "
         "present: 4096, Strict source route: 0, Recursion control: 0\n  Acknowledgement present: 128\n  Protocol: "
         "0x880a (unknown type)\n  Payload Length: 16, Call ID: 32\n  Sequence Number: 3\n  Acknowledgement Number: "
         "4\n\n",
         0, 1},
        {"b007 0800", "- Not supported GRE(7) version -\n", 0, 0},
    };
    for (const auto& c : cases) {
        test::reset({"statistic", "verbose"});
        EXPECT_EQ(test::decode(decode_gre, test::hex(c.header)), c.want) << c.header;
        EXPECT_EQ(counters.grev0, c.grev0) << c.header;
        EXPECT_EQ(counters.grev1, c.grev1) << c.header;
        EXPECT_GT(test::decode_all_prefixes(decode_gre, test::hex(c.header)), 0);
    }
}

TEST(EtherIp, InnerFrameIsReadWhereItBegins) {
    const bytes inner = test::hex("0a0000000001 0a0000000002 1234 696e6e6572");
    // Behind links of different header lengths and behind IPv4 options.
    for (unsigned link_header_length : {0u, 4u, 14u}) {
        test::reset({"expand-ethernet", "statistic"});
        bytes frame = test::concat({bytes(link_header_length, 0xee),
                                    ipf::ipv4(97, test::concat({test::hex("53 02"), inner}), test::hex("01010101"))});
        EXPECT_EQ(ipf::slice(test::decode(decode_ipv4, frame, link_header_length), "- EtherIP"),
                  "- EtherIP Header -\n  Version: 3,   Reserved: 37\n- Ethernet Header -\n  MAC Dst: "
                  "0a:00:00:00:00:01\n  MAC Src: 0a:00:00:00:00:02\n  Type(Ethernet II): 0x1234\n");
        EXPECT_EQ(counters.etherip, 1u);
        EXPECT_EQ(counters.ethernet_ii, 1u);
        EXPECT_GT(test::decode_all_prefixes(decode_ipv4, frame, link_header_length), 0);
    }
}

TEST(EtherIp, OuterLinkHeaderLengthSurvivesAShortInnerFrame) {
    test::reset({"statistic"});
    bytes frame = test::hex("eeeeeeee 0300 0a00000000010a00");
    EXPECT_EQ(test::decode(decode_etherip, frame, 4),
              "- EtherIP Header -\n  Version: 3,   Reserved: 0\n- Ethernet Header -\nError: Captured data length(8 "
              "bytes) < Ethernet packet header length.\n");
    EXPECT_EQ(counters.ethernet_ii_short, 1u);
    EXPECT_EQ(capture.link_header_length, 4u);
    // An inner header cut by the capture ends in the marker.
    frame = test::concat({test::hex("eeeeeeee 0300"), ipf::ethernet(0x0800, test::hex("4500"))});
    EXPECT_NE(test::decode(decode_etherip, frame, 4, 22, 200).find("[truncated: captured 22 of 200 bytes]"),
              std::string::npos);
    EXPECT_EQ(capture.link_header_length, 4u);
}

}  // namespace
