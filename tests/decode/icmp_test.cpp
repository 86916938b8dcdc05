#include <gtest/gtest.h>

#include "decode/decoder.h"
#include "ip_frames.h"

namespace {

using test::bytes;
using test::hex;

std::string icmp_part(const std::string& out) { return ipf::slice(out, "- ICMPv4 Header -"); }

TEST(Icmpv4, MessagesByType) {
    struct {
        uint8_t type, code;
        const char* rest;
        bool verbose;
        const char* want;  // behind the checksum value
        const char* head;  // the type and code lines
    } cases[] = {
        {8, 0, "0200 0001", false, "  Identifier: 512, Seq.: 1\n", "  Type: 8\n  Code: 0"},
        {18, 0, "0001 0002 ffffff00", true, "  Identifier: 1, Seq.: 2\n",
         "  Type: 18 (Mask reply)\n  Subnet-Mask-Length: 0"},
        {17, 0, "0001 0002", false, "  Identifier: 1, Seq.: 2\n", "  Type: 17\n  Code: 0"},
        {3, 16, "00000000", true, "", "  Type: 3 (Destination unreachable)\n  Code: 16 (unknown)"},
        {4, 0, "00000000", true, "", "  Type: 4 (Source quench)\n  Code: 0"},
        {5, 3, "0a000001", true, "  Gateway IP: 10.0.0.1\n",
         "  Type: 5 (Redirect)\n  Code: 3 (Redirect datagrams for ToS and Host)"},
        {12, 2, "14000000", true, "  Pointer: 20\n", "  Type: 12 (Parameter problem)\n  Code: 2 (Bad Length)"},
        {13, 0, "0001 0002 00000064 00000065 ffffffff", false,
         "  Identifier: 1, Seq.: 2\n  Originate Timestamp: 100, Receive Timestamp: 101\n"
         "  Transmit Timestamp: 4294967295\n",
         "  Type: 13\n  Code: 0"},
        {40, 5, "0000 0008", true, "  Pointer: 8\n", "  Type: 40 (Security failures)\n  Code: 5 (Need authorization)"},
        {99, 7, "00000000", true, "", "  Type: 99 (unknown)\n  Code: 7"},
    };
    for (const auto& c : cases) {
        bytes message = ipf::icmp(c.type, c.code, hex(c.rest));
        if (c.verbose)
            test::reset({"verbose", "statistic"});
        else
            test::reset({"statistic"});
        EXPECT_EQ(icmp_part(ipf::decode_ip(ipf::ipv4(1, message))),
                  std::string("- ICMPv4 Header -\n") + c.head +
                      "\n  Checksum: " + ipf::hex16(ipf::be16_at(message, 2)) + "\n" + c.want)
            << int{c.type};
        EXPECT_EQ(counters.icmpv4, 1u);
    }
}

TEST(Icmpv4, ChecksumEndsWithTheIpPayload) {
    // An echo request in a 60-byte frame padded with non-zero bytes.
    bytes message = ipf::icmp(8, 0, hex("1234 0007 41424344"));
    bytes frame = ipf::ethernet(0x0800, ipf::ipv4(1, message));
    size_t at = frame.size();
    frame.resize(60, 0x5a);
    test::reset({"calc-checksums", "statistic"});
    EXPECT_NE(ipf::decode_ethernet_frame(frame).find(ipf::hex16(ipf::be16_at(message, 2)) + " (correct checksum)\n"),
              std::string::npos);
    EXPECT_EQ(counters.icmpv4_bad, 0u);

    // The same message checksummed over message and padding is judged
    // wrong, and the expected value is the message's own.
    bytes with_padding(frame.begin() + 34, frame.end());
    with_padding[2] = with_padding[3] = 0;
    uint16_t over_padding = test::inet_checksum(with_padding);
    bytes wrong = frame;
    test::put_be16(wrong, 36, over_padding);
    EXPECT_NE(ipf::decode_ethernet_frame(wrong).find(ipf::hex16(over_padding) + " (incorrect checksum - should be " +
                                                     ipf::hex16(ipf::be16_at(message, 2)) + ")\n"),
              std::string::npos);
    EXPECT_EQ(counters.icmpv4_bad, 1u);

    // Cut by the snap length: no verdict and nothing counted.
    std::string out = ipf::decode_ethernet_frame(wrong, static_cast<long>(at) - 2, 60);
    EXPECT_NE(out.find("  Checksum: " + ipf::hex16(over_padding) + "\n  Identifier: 4660, Seq.: 7\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(counters.icmpv4_bad, 1u);

    // Without --calc-checksums nothing is judged.
    test::reset({"statistic"});
    EXPECT_EQ(ipf::decode_ethernet_frame(wrong).find("checksum)"), std::string::npos);
    EXPECT_EQ(counters.icmpv4_bad, 0u);
}

}  // namespace
