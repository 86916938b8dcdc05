// MPLS label stacks (RFC 3032) and what rides behind them, and OSPFv3's
// header behind IPv6 (RFC 5340).
#include <gtest/gtest.h>

#include <string>

#include "decode/link/ethernet.h"
#include "decode/routing/ospf.h"
#include "routing_harness.h"
#include "support.h"

namespace {

using test::bytes;
using test::hex;

// A label stack entry: label (20 bits), traffic class (3), bottom of stack
// (1), TTL (8).
bytes entry(uint32_t label, unsigned traffic_class, bool bottom, uint8_t ttl) {
    uint32_t v = label << 12 | traffic_class << 9 | (bottom ? 1u : 0u) << 8 | ttl;
    return bytes{static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
                 static_cast<uint8_t>(v)};
}

bytes over_mpls(std::initializer_list<bytes> parts) {
    return test::concat({hex("020000000002 020000000001 8847"), test::concat(parts)});
}

bytes ipv4_udp() {
    bytes ip = hex("45000020 0001 0000 40 11 0000 0a000001 0a000002");
    test::put_be16(ip, 10, test::inet_checksum(ip));
    return test::concat({ip, hex("03e8 07d0 000c 0000 68690a0a")});
}

bytes ipv6_udp() {
    return hex(
        "60000000 0008 11 40 20010db8000000000000000000000001 20010db8000000000000000000000002"
        "0001 0002 0008 0000");
}

const char* two_labels =
    "\n- MPLS Header -\n  Label: 16, Experimental: 5\n  Bottom of stack: 0, TTL: 64\n"
    "  Label: 17, Experimental: 0\n  Bottom of stack: 1, TTL: 63\n\n- IPv4 Header -\n";
const char* three_labels =
    "\n- MPLS Header -\n  Label: 100, Experimental: 1\n  Bottom of stack: 0, TTL: 10\n"
    "  Label: 200, Experimental: 2\n  Bottom of stack: 0, TTL: 20\n"
    "  Label: 2, Experimental: 0\n  Bottom of stack: 1, TTL: 30\n\n- IPv6 Header -\n";

struct stack_case {
    const char* name;
    bytes frame;
    std::string want;  // a part of the verbose output
};

std::vector<stack_case> stack_cases() {
    bytes deep;
    for (int i = 0; i < 17; ++i) deep = test::concat({deep, entry(1000 + i, 0, false, 1)});
    return {
        {"two labels, IPv4", over_mpls({entry(16, 5, false, 64), entry(17, 0, true, 63), ipv4_udp()}), two_labels},
        {"three labels, IPv6",
         over_mpls({entry(100, 1, false, 10), entry(200, 2, false, 20), entry(2, 0, true, 30), ipv6_udp()}),
         three_labels},
        {"control word and Ethernet",
         over_mpls({entry(300, 0, false, 5), entry(301, 0, true, 6), hex("00000007"),
                    hex("020000000004 020000000003 0800"), ipv4_udp()}),
         "  Bottom of stack: 1, TTL: 6\n  PW Control Word: 0x00000007, Sequence: 7\n\n- Ethernet Header -\n"
         "  MAC Dst: 02:00:00:00:00:04"},
        {"Ethernet without control word",
         over_mpls({entry(302, 0, true, 6), hex("a20000000004 020000000003 0806"), hex("0001 0800 06 04 0001")}),
         "  Bottom of stack: 1, TTL: 6\n\n- Ethernet Header -\n  MAC Dst: a2:00:00:00:00:04"},
        {"unknown payload", over_mpls({entry(400, 0, true, 5), hex("123456789a")}),
         "  Bottom of stack: 1, TTL: 5\n\n0x0001: 12 34 56 78 9a\n"},
        {"no payload", over_mpls({entry(3, 0, true, 64)}),
         "\n- MPLS Header -\n  Label: 3, Experimental: 0\n  Bottom of stack: 1, TTL: 64\n"},
        {"stack without an end", over_mpls({deep, ipv4_udp()}),
         "  Label: 1015, Experimental: 0\n  Bottom of stack: 0, TTL: 1\n  Error: label stack deeper than 16 entries\n"},
        {"stack cut short", over_mpls({entry(16, 0, false, 64), entry(17, 0, false, 63)}),
         "  Label: 17, Experimental: 0\n  Bottom of stack: 0, TTL: 63\n\n  [malformed:"},
    };
}

TEST(Mpls, WalksTheStackAndDecodesThePayload) {
    for (const stack_case& c : stack_cases()) {
        test::reset({"expand-ethernet"});
        std::string out = test::decode(decode_ethernet, c.frame, 14);
        EXPECT_NE(out.find(c.want), std::string::npos) << c.name << "\n" << out;
    }
    test::reset({"statistic"});
    test::decode(decode_ethernet, stack_cases()[1].frame, 14);
    EXPECT_EQ(counters.mpls, 1u);
    EXPECT_EQ(counters.ipv6, 1u);
}

TEST(Mpls, EveryEntryIsAnItemAndThePayloadALayer) {
    test::reset({"json"});
    std::string line = test::decode_record(decode_ethernet, stack_cases()[0].frame, 14);
    EXPECT_NE(line.find("\"mpls\":{\"labels\":[{\"label\":16,\"label_name\":\"End of Tunnel\","
                        "\"traffic_class\":5,\"bottom_of_stack\":0,\"ttl\":64},{\"label\":17,"
                        "\"traffic_class\":0,\"bottom_of_stack\":1,\"ttl\":63}]},\"ipv4\":{"),
              std::string::npos)
        << line;
    test::reset({"json"});
    line = test::decode_record(decode_ethernet, stack_cases()[2].frame, 14);
    // The pseudowire's frame is the second Ethernet header of the frame.
    EXPECT_NE(line.find("\"control_word\":7,\"pw_seq\":7}"), std::string::npos) << line;
    EXPECT_NE(line.find("\"ethernet_inner\":[{\"dst\":\"02:00:00:00:00:04\""), std::string::npos) << line;
    test::reset({"summary"});
    line = test::decode_record(decode_ethernet, stack_cases()[4].frame, 14);
    EXPECT_NE(line.find(" MPLS labels 400 ("), std::string::npos) << line;
}

TEST(Mpls, EveryPrefixStaysInsideTheFrame) {
    for (const stack_case& c : stack_cases()) {
        test::reset({"verbose", "expand-all"});
        EXPECT_GT(test::decode_all_prefixes(decode_ethernet, c.frame, 14), 0) << c.name;
        for (size_t n = 0; n <= c.frame.size(); ++n) {
            test::reset({"json"});
            bytes part(c.frame.begin(), c.frame.begin() + static_cast<long>(n));
            std::string line = test::decode_record(decode_ethernet, part, 14);
            EXPECT_TRUE(test::valid_json(line)) << c.name << " " << n << ": " << line;
        }
    }
}

// The link header length the pseudowire's Ethernet frame borrowed comes back.
TEST(Mpls, OuterLinkHeaderLengthIsRestored) {
    test::reset();
    test::decode(decode_ethernet, stack_cases()[2].frame, 14);
    EXPECT_EQ(capture.link_header_length, 14u);
}

TEST(Ospfv3, HeaderBehindIpv6) {
    struct {
        const char* message;
        std::string want;
        uint32_t ospfv3;
    } cases[] = {
        {"0301 0024 01010101 00000001 f48d 05 00",
         "- OSPF Header -\n  Version: 3\n  Type: 1 (Hello)\n  Length: 36\n  Router ID: 1.1.1.1\n"
         "  Area ID: 0.0.0.1\n  Checksum: 0xf48d, Instance ID: 5\n",
         1},
        {"0304 0040 0a000001 00000000 0000 00 00",
         "  Type: 4 (Link state update)\n  Length: 64\n  Router ID: 10.0.0.1\n", 1},
        {"0201 002c c0a80001 00000000 0000 0000", "- OSPF Header -\n  Version: 2\n", 0},
    };
    for (const auto& c : cases) {
        test::reset({"statistic", "calc-checksums"});
        std::string out = test::decode(routing_test::short_form<decode_ospfv3>, hex(c.message));
        EXPECT_NE(out.find(c.want), std::string::npos) << c.message << "\n" << out;
        // Nothing is judged: the checksum covers an IPv6 pseudo-header.
        EXPECT_EQ(out.find("checksum)"), std::string::npos) << out;
        EXPECT_EQ(counters.ospfv3, c.ospfv3) << c.message;
        EXPECT_EQ(counters.ospfv2, 0u);
    }
}

}  // namespace
