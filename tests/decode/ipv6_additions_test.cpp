// IPv6 fragment, destination options and mobility headers, ICMPv6
// neighbour discovery and MLDv2 reports: text written from RFC 8200,
// 6275, 4861, 4191, 8106 and 3810, JSON keys, and every prefix.
#include <gtest/gtest.h>

#include "decode/decoder.h"
#include "decode/link/ethernet.h"
#include "peer.h"
#include "support.h"

namespace {

using test::bytes;
using test::hex;

// Ethernet and an IPv6 header from src to dst with the given next header;
// the payload length is filled in.
bytes ipv6(const char* next_header, const char* src, const char* dst, const std::string& payload) {
    bytes body = hex(payload);
    bytes frame = test::concat(
        {hex("3333ff000002 020000000001 86dd 60000000 0000"), hex(next_header), hex("ff"), hex(src), hex(dst), body});
    test::put_be16(frame, 18, static_cast<uint16_t>(body.size()));
    return frame;
}

const char* const doc1 = "20010db8000000000000000000000001";
const char* const doc2 = "20010db8000000000000000000000002";
const char* const ll1 = "fe800000000000000000000000000001";
const char* const ll2 = "fe800000000000000000000000000002";

// Fragment header (RFC 8200 4.5): next header, reserved, offset in
// 8-byte units << 3 | M, identification.
bytes first_fragment() { return ipv6("2c", doc1, doc2, "11 00 0001 00012345  03e8 07d0 0134 ffc2  7878787878787878"); }
bytes later_fragment() { return ipv6("2c", doc1, doc2, "11 00 0110 00012345  7878787878787878"); }
// Destination options: tunnel encapsulation limit 4,
// router alert 0 (MLD), jumbo payload, Pad1, then PadN and a home address option
// in a second header; UDP behind.
bytes destination_options() {
    return ipv6("3c", doc1, doc2,
                "3c 01 040104 05020000 c204 00011170 00"
                "11 02 0102 0000 c910 20010db8000000000000000000000077"
                "9c41 9c42 0008 a466");
}
// Mobility header (RFC 6275 6.1): binding update, sequence 7, flags A|H|L,
// lifetime 30, PadN, alternate care-of address.
bytes binding_update() {
    return ipv6("87", doc1, doc2, "3b 03 05 00 6158 0007 d000 001e 0100 0310 20010db8000000000000000000000099");
}
// RFC 4861 neighbour solicitation with a source link-layer address option.
bytes solicitation() {
    return ipv6("3a", ll1, "ff0200000000000000000001ff000002",
                "87 00 7a97 00000000 fe800000000000000000000000000002 0101 020000000001");
}
bytes advertisement() {
    return ipv6("3a", ll2, ll1, "88 00 181a 60000000 fe800000000000000000000000000002 0201 020000000002");
}
// Router advertisement: hop limit 64, M and high preference, lifetime
// 1800; source link-layer address, MTU, prefix 2001:db8:1::/64,
// RDNSS (RFC 8106) with two servers, DNSSL, route 2001:db8:2::/48 (RFC 4191).
bytes router_advertisement() {
    return ipv6("3a", ll1, "ff020000000000000000000000000001",
                "86 00 de98 40 88 0708 00000000 00000000"
                "0101 020000000001"
                "0501 0000 000005dc"
                "0304 40 c0 00015180 00003840 00000000 20010db8000100000000000000000000"
                "1905 0000 00000258 20010db8000000000000000000000053 20010db8000000000000000000000054"
                "1f05 0000 00000258 076578616d706c65036f726700 036c6162076578616d706c6500 000000000000"
                "1803 30 08 00000384 20010db8000200000000000000000000");
}
bytes redirect() {
    return ipv6("3a", ll1, "fe800000000000000000000000000003",
                "89 00 4d50 00000000 fe800000000000000000000000000004 20010db8000000000000000000000009");
}
// MLDv2 report (RFC 3810 5.2) with two records, one with a source.
bytes mldv2_report() {
    return ipv6("3a", ll1, "ff020000000000000000000000000016",
                "8f 00 4127 0000 0002"
                "04 00 0000 ff0200000000000000000000000000fb"
                "01 00 0001 ff050000000000000000000000000002 20010db8000000000000000000000001");
}

std::string after(const std::string& text, const char* marker) {
    size_t at = text.find(marker);
    return at == std::string::npos ? "(no " + std::string(marker) + ") " + text : text.substr(at);
}

TEST(Ipv6Additions, PlainTextEndsWhereItAlwaysDid) {
    // Without --expand-all the chain ends at these headers and the
    // neighbour discovery body stays unprinted, as before.
    for (const bytes& frame : {first_fragment(), destination_options(), binding_update()}) {
        test::reset({"verbose"});
        std::string text = test::decode(decode_ethernet, frame, 14);
        EXPECT_EQ(text.substr(text.size() - 50), "  Dst IP: 2001:0db8:0000:0000:0000:0000:0000:0002\n") << text;
    }
    for (const bytes& frame : {solicitation(), advertisement(), router_advertisement(), redirect(), mldv2_report()}) {
        test::reset({"verbose"});
        std::string text = test::decode(decode_ethernet, frame, 14);
        EXPECT_EQ(text.substr(text.rfind("\n  Checksum: ")).size(), 20u) << text;
    }
}

TEST(Ipv6Additions, ExtensionHeadersExpanded) {
    struct {
        const char* name;
        bytes frame;
        const char* banner;
        const char* want;
    } cases[] = {
        {"first fragment goes on to UDP", first_fragment(), "- IPv6 Fragment",
         "- IPv6 Fragment Header -\n  Next header: 17 (UDP)\n"
         "  Fragment Offset: 0, More Fragments: 1, Identification: 0x00012345\n"
         "- UDP Header -\n  Src Port: 1000 (unknown), Dst Port: 2000 (unknown)\n  Length: 308, Checksum: 0xffc2\n"},
        {"later fragment stops", later_fragment(), "- IPv6 Fragment",
         "- IPv6 Fragment Header -\n  Next header: 17 (UDP)\n"
         "  Fragment Offset: 272, More Fragments: 0, Identification: 0x00012345\n"},
        {"destination options", destination_options(), "- IPv6 Destination",
         "- IPv6 Destination Options Header -\n  Next header: 60 (Destination options header)\n"
         "  Header Extension Length: 1\n"
         "  Option: 4 (Tunnel encapsulation limit), Length: 1, Limit: 4\n"
         "  Option: 5 (Router alert), Length: 2, Value: 0 (MLD)\n"
         "  Option: 194 (Jumbo payload), Length: 4, Payload Length: 70000\n  Option: 0 (Pad1)\n"
         "- IPv6 Destination Options Header -\n  Next header: 17 (UDP)\n  Header Extension Length: 2\n"
         "  Option: 1 (PadN), Length: 2\n"
         "  Option: 201 (Home address), Length: 16, Address: 2001:0db8:0000:0000:0000:0000:0000:0077\n"
         "- UDP Header -\n  Src Port: 40001 (unknown), Dst Port: 40002 (unknown)\n  Length: 8, Checksum: 0xa466\n"},
        {"binding update", binding_update(), "- IPv6 Mobility",
         "- IPv6 Mobility Header -\n  Payload Proto: 59, Header Length: 3\n"
         "  MH Type: 5 (Binding Update), Checksum: 0x6158\n  Sequence: 7, Flags: 0xd000, Lifetime: 30\n"
         "  Option: 1 (PadN), Length: 0\n"
         "  Option: 3 (Alternate Care-of Address), Length: 16, Address: 2001:0db8:0000:0000:0000:0000:0000:0099\n"},
        {"neighbour solicitation", solicitation(), "  Checksum",
         "  Checksum: 0x7a97\n  Target: fe80:0000:0000:0000:0000:0000:0000:0002\n"
         "  Option: 1 (Source link-layer address), Length: 8, Address: 02:00:00:00:00:01\n"},
        {"neighbour advertisement", advertisement(), "  Checksum",
         "  Checksum: 0x181a\n  Flags: 0x60 (Solicited, Override)\n"
         "  Target: fe80:0000:0000:0000:0000:0000:0000:0002\n"
         "  Option: 2 (Target link-layer address), Length: 8, Address: 02:00:00:00:00:02\n"},
        {"router advertisement", router_advertisement(), "  Checksum",
         "  Checksum: 0xde98\n  Cur Hop Limit: 64, Flags: 0x88 (Managed), Preference: 1 (high)\n"
         "  Router Lifetime: 1800, Reachable Time: 0, Retrans Timer: 0\n"
         "  Option: 1 (Source link-layer address), Length: 8, Address: 02:00:00:00:00:01\n"
         "  Option: 5 (MTU), Length: 8, MTU: 1500\n"
         "  Option: 3 (Prefix information), Length: 32\n"
         "    Prefix: 2001:0db8:0001:0000:0000:0000:0000:0000/64, Flags: 0xc0 (On-link, Autonomous)\n"
         "    Valid Lifetime: 86400, Preferred Lifetime: 14400\n"
         "  Option: 25 (Recursive DNS server), Length: 40, Lifetime: 600\n"
         "    Server: 2001:0db8:0000:0000:0000:0000:0000:0053\n    Server: 2001:0db8:0000:0000:0000:0000:0000:0054\n"
         "  Option: 31 (DNS search list), Length: 40, Lifetime: 600\n    Domain: example.org\n    Domain: lab.example\n"
         "  Option: 24 (Route information), Length: 24\n"
         "    Prefix: 2001:0db8:0002:0000:0000:0000:0000:0000/48, Preference: 1 (high), Lifetime: 900\n"},
        {"redirect", redirect(), "  Checksum",
         "  Checksum: 0x4d50\n  Target: fe80:0000:0000:0000:0000:0000:0000:0004\n"
         "  Destination: 2001:0db8:0000:0000:0000:0000:0000:0009\n"},
        {"MLDv2 report", mldv2_report(), "  Checksum",
         "  Checksum: 0x4127\n  Multicast Address Records: 2\n"
         "  Record: 4 (CHANGE_TO_EXCLUDE_MODE), Address: ff02:0000:0000:0000:0000:0000:0000:00fb, Sources: 0\n"
         "  Record: 1 (MODE_IS_INCLUDE), Address: ff05:0000:0000:0000:0000:0000:0000:0002, Sources: 1\n"
         "    Source: 2001:0db8:0000:0000:0000:0000:0000:0001\n"},
    };
    for (const auto& c : cases) {
        test::reset({"expand-all", "verbose", "statistic"});
        EXPECT_EQ(after(test::decode(decode_ethernet, c.frame, 14), c.banner), c.want) << c.name;
    }
    EXPECT_EQ(counters.ipv6_fragment + counters.ipv6_destination + counters.ipv6_mobility, 0u);
}

TEST(Ipv6Additions, CountersJsonSummaryAndPrefixes) {
    struct {
        const char* name;
        bytes frame;
        std::vector<const char*> keys;
        const char* summary;
    } cases[] = {
        {"fragment",
         later_fragment(),
         {"\"ipv6_fragment\":{\"next_header\":17,\"next_header_name\":\"UDP\",\"offset\":272,"
          "\"more_fragments\":0,\"id\":74565}"},
         "IPv6-Fragment frag id 0x00012345 offset 272"},
        {"destination options",
         destination_options(),
         {"\"options\":[{\"type\":4,\"type_name\":\"Tunnel encapsulation limit\",\"length\":1,"
          "\"tunnel_encapsulation_limit\":4}",
          "\"router_alert\":0,\"router_alert_name\":\"MLD\"", "\"jumbo_payload_length\":70000",
          "\"home_address\":\"2001:db8::77\""},
         "UDP"},
        {"mobility",
         binding_update(),
         {"\"type\":5,\"type_name\":\"Binding Update\"", "\"care_of_address\":\"2001:db8::99\""},
         "Binding Update"},
        {"solicitation",
         solicitation(),
         {"\"icmpv6_nd\":{\"target\":\"fe80::2\",\"options\":[{\"type\":1,"
          "\"type_name\":\"Source link-layer address\",\"length\":8,\"link_address\":\"02:00:00:00:00:01\"}]}"},
         "neighbor solicitation who-has fe80::2"},
        {"router advertisement",
         router_advertisement(),
         {"\"router_lifetime\":1800", "\"prefix\":\"2001:db8:1::\",\"prefix_length\":64",
          "\"servers\":[\"2001:db8::53\",\"2001:db8::54\"]", "\"domains\":[\"example.org\",\"lab.example\"]",
          "\"mtu\":1500"},
         "router advertisement lifetime 1800"},
        {"redirect", redirect(), {"\"destination\":\"2001:db8::9\""}, "redirect 2001:db8::9 via fe80::4"},
        {"MLDv2",
         mldv2_report(),
         {"\"mldv2\":{\"record_count\":2", "\"address\":\"ff05::2\",\"sources\":1",
          "\"source_addresses\":[\"2001:db8::1\"]"},
         "report, 2 records"},
    };
    for (const auto& c : cases) {
        test::reset({"statistic", "expand-all"});
        test::decode(decode_ethernet, c.frame, 14);
        EXPECT_EQ(counters.ipv6_fragment + counters.ipv6_destination + counters.ipv6_mobility + counters.icmpv6 > 0,
                  true)
            << c.name;
        test::reset({"json"});
        std::string line = test::decode_record(decode_ethernet, c.frame, 14);
        EXPECT_TRUE(test::valid_json(line)) << line;
        for (const char* key : c.keys)
            EXPECT_NE(line.find(key), std::string::npos) << c.name << ": " << key << "\n" << line;
        test::reset({"summary"});
        line = test::decode_record(decode_ethernet, c.frame, 14);
        EXPECT_NE(line.find(c.summary), std::string::npos) << line;
        for (size_t n = 0; n <= c.frame.size(); ++n) {
            test::reset({"json"});
            bytes part(c.frame.begin(), c.frame.begin() + static_cast<long>(n));
            line = test::decode_record(decode_ethernet, part, 14);
            EXPECT_TRUE(test::valid_json(line)) << c.name << " " << n << ": " << line;
        }
        test::reset({"expand-all", "verbose"});
        test::decode_all_prefixes(decode_ethernet, c.frame, 14);
    }
}

TEST(Ipv6Additions, BrokenOptionsEndTheWalk) {
    struct {
        const char* name;
        bytes frame;
        const char* want;
    } cases[] = {
        {"ND option of length 0",
         ipv6("3a", ll1, ll2, "87 00 0000 00000000 " + std::string(ll2) + "0100 0000 0000 0000"),
         "  Option: 1 (Source link-layer address), Length: 0 (invalid length)\n"},
        {"ND option past the message",
         ipv6("3a", ll1, ll2, "87 00 0000 00000000 " + std::string(ll2) + "0102 0000 0000 0000"),
         "  Option: 1 (Source link-layer address), Length: 16 (runs past the message)\n"},
        {"destination option past the header", ipv6("3c", doc1, doc2, "3b 00 01 09 00000000"),
         "  Option: 1 (PadN), Length: 9 (runs past the header)\n"},
    };
    for (const auto& c : cases) {
        test::reset({"expand-all", "verbose"});
        std::string text = test::decode(decode_ethernet, c.frame, 14);
        EXPECT_EQ(text.substr(text.size() - strlen(c.want)), c.want) << c.name << "\n" << text;
        test::reset({"json"});
        EXPECT_TRUE(test::valid_json(test::decode_record(decode_ethernet, c.frame, 14))) << c.name;
    }
}

// The peer decodes the same frames from a pcap file; the main fields agree.
// tshark gives the fragment offset in its 8-byte units, nodrix in bytes,
// and lists a route information prefix among the prefixes.
TEST(Ipv6Additions, AgreesWithTshark) {
    if (!test::tshark_available()) GTEST_SKIP() << "tshark is not installed";
    test::temp_dir dir;
    std::string path = dir.file("v6.pcap");
    test::write_file(
        path,
        test::pcap_file(
            {{first_fragment()}, {later_fragment()}, {solicitation()}, {advertisement()}, {router_advertisement()}}));
    auto rows =
        test::tshark_fields(path, {"ipv6.fraghdr.offset", "ipv6.fraghdr.more", "ipv6.fraghdr.ident",
                                   "icmpv6.nd.ns.target_address", "icmpv6.nd.na.target_address", "icmpv6.opt.linkaddr",
                                   "icmpv6.opt.prefix", "icmpv6.opt.mtu", "icmpv6.opt.rdnss", "icmpv6.opt.dnssl"});
    std::vector<std::string> lines;
    for (const auto& line : test::nodrix_json_lines(path))
        if (line.rfind("{\"frame\":", 0) == 0) lines.push_back(line);
    ASSERT_EQ(rows.size(), 5u);
    ASSERT_EQ(lines.size(), 5u);
    for (int i : {0, 1}) {
        EXPECT_EQ(std::stoul(test::json_field(lines[i], "ipv6_fragment", "offset")), std::stoul(rows[i][0]) * 8);
        EXPECT_EQ(test::json_field(lines[i], "ipv6_fragment", "more_fragments"), rows[i][1]);
        EXPECT_EQ(std::stoul(test::json_field(lines[i], "ipv6_fragment", "id")), std::stoul(rows[i][2], nullptr, 16));
    }
    EXPECT_EQ(test::json_field(lines[2], "icmpv6_nd", "target"), rows[2][3]);
    EXPECT_EQ(test::json_field(lines[3], "icmpv6_nd", "target"), rows[3][4]);
    for (int i : {2, 3, 4}) EXPECT_EQ(test::json_field(lines[i], "icmpv6_nd", "link_address"), rows[i][5]);
    const std::string& ra = lines[4];
    EXPECT_EQ(rows[4][6], "2001:db8:1::,2001:db8:2::");
    EXPECT_NE(ra.find("\"prefix\":\"2001:db8:1::\""), std::string::npos);
    EXPECT_NE(ra.find("\"prefix\":\"2001:db8:2::\""), std::string::npos);
    EXPECT_EQ(test::json_field(ra, "icmpv6_nd", "mtu"), rows[4][7]);
    EXPECT_EQ(test::json_field(ra, "icmpv6_nd", "servers"), "[\"" + rows[4][8].replace(12, 1, "\",\"") + "\"]");
    EXPECT_EQ(test::json_field(ra, "icmpv6_nd", "domains"), "[\"example.org\",\"lab.example\"]");
    EXPECT_EQ(rows[4][9], "example.org,lab.example");
}

}  // namespace
