#include "decode/ip/ipv6.h"

#include <gtest/gtest.h>

#include "decode/context.h"
#include "decode/decoder.h"
#include "ip_frames.h"
#include "pipeline/frame_loop.h"

namespace {

using test::bytes;
using test::hex;

TEST(Ipv6, HeaderLines) {
    bytes packet = ipf::ipv6(59, hex("00000000"));
    packet[0] = 0x6a;
    packet[1] = 0x12;
    packet[2] = 0x34;
    test::reset({"statistic"});
    EXPECT_EQ(ipf::decode_ip(packet),
              "\n- IPv6 Header -\n  Version: 6, Priority: 10\n  Flow Label: 4660, Payload length: 4\n"
              "  Next header: 59, Hop Limit: 64\n  Src IP: 2001:0db8:0000:0000:0000:0000:0000:0001\n"
              "  Dst IP: 2001:0db8:0000:0000:0000:0000:0000:0002\n");
    EXPECT_EQ(counters.ipv6, 1u);
}

TEST(Ipv6, AddressNotesUnderVerbose) {
    const char* unspecified = "00000000000000000000000000000000";
    const char* loopback = "00000000000000000000000000000001";
    const char* other = "fe800000000000000000000000000001";
    struct {
        const char* source;
        const char* destination;
        const char* source_note;
        const char* destination_note;
    } cases[] = {
        {other, "ff020000000000000000000000000001", "", ""},
        {unspecified, other, " (unspecified)", ""},
        {loopback, unspecified, " (loopback)", " (unspecified)"},
        {other, loopback, "", " (loopback)"},
        {other, other, "", " (same as Src IP)"},
        {loopback, loopback, " (loopback)", " (same as Src IP)"},
    };
    for (const auto& c : cases) {
        bytes packet = ipf::ipv6(59, {});
        bytes source = hex(c.source), destination = hex(c.destination);
        std::copy(source.begin(), source.end(), packet.begin() + 8);
        std::copy(destination.begin(), destination.end(), packet.begin() + 24);
        test::reset({"verbose"});
        std::string out = ipf::decode_ip(packet);
        EXPECT_EQ(ipf::slice(out, "Next header:", "\n"), "Next header: 59 (No next header), Hop Limit: 64");
        std::string source_line = ipf::slice(out, "  Src IP: ", "\n");
        std::string destination_line = ipf::slice(out, "  Dst IP: ", "\n");
        EXPECT_EQ(source_line.substr(49), c.source_note) << c.source;
        EXPECT_EQ(destination_line.substr(49), c.destination_note) << c.destination;
        test::reset();
        EXPECT_EQ(ipf::decode_ip(packet).find(" ("), std::string::npos);
    }
}

TEST(Ipv6, ExtensionHeaderChain) {
    // Hop-by-hop (one 8-byte unit), routing (three units), then UDP.
    bytes hop_by_hop = hex("2b00 0000 00000000");
    bytes routing = hex("1102 0003 00000000 0000000000000000 0000000000000000");
    bytes packet = ipf::ipv6(0, test::concat({hop_by_hop, routing, hex("9c41 9c42 0009 1234 41")}));
    test::reset({"verbose", "statistic"});
    std::string out = ipf::decode_ip(packet);
    EXPECT_EQ(out.substr(out.find("- IPv6 Hop")),
              "- IPv6 Hop-by-Hop Header -\n  Next header: 43 (Routing header)\n  Header Extension Length: 0\n"
              "- IPv6 Routing Header -\n  Next header: 17 (UDP)\n  Header Extension Length: 2, Routing Type: 0\n"
              "  Segments Left: 3\n"
              "- UDP Header -\n  Src Port: 40001 (unknown), Dst Port: 40002 (unknown)\n"
              "  Length: 9, Checksum: 0x1234\n");
    EXPECT_EQ(counters.ipv6_hop_by_hop, 1u);
    EXPECT_EQ(counters.ipv6_routing, 1u);
    EXPECT_EQ(counters.udp, 1u);
}

TEST(Ipv6, NextHeadersThatEndTheFrame) {
    test::reset();
    for (uint8_t next_header : {44, 59, 60, 200}) {
        bytes packet = ipf::ipv6(next_header, hex("0600000000000000 9c419c42"));
        std::string out = ipf::decode_ip(packet);
        EXPECT_EQ(out.substr(out.size() - 50), "  Dst IP: 2001:0db8:0000:0000:0000:0000:0000:0002\n")
            << int{next_header};
    }
    EXPECT_EQ(test::capture_output([] { print_ipv6_next_header_name(frame_loop_main_context(), 7); }), "");
}

TEST(Ipv6, Ipv6InIpv6) {
    test::reset();
    std::string out = ipf::decode_ip(ipf::ipv6(41, ipf::ipv6(17, ipf::udp({}))));
    EXPECT_NE(out.find("0002\n\n- IPv6 Header -"), std::string::npos);
    EXPECT_NE(out.find("0002\n- UDP Header -"), std::string::npos);
}

TEST(Ipv7, HeaderLines) {
    bytes packet = hex("77 02 0040 00000000 0102030405060708 1112131415161718 2122232425262728 0006 abcd ffff");
    test::reset();
    EXPECT_EQ(ipf::decode_ip(packet),
              "\n- IPv7(TP/IX) Header -\n  Version: 7, Hdr-Len: 39, TTL: 64\n"
              "  Forward route identifier: 01 02 03 04 05 06 07 08 \n"
              "  Dst IP: 11 12 13 14 15 16 17 18 \n  Src IP: 21 22 23 24 25 26 27 28 \n"
              "  Protocol: 6, Checksum: 0xabcd\n");
}

}  // namespace
