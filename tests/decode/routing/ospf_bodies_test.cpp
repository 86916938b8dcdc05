// OSPF packet bodies under --expand-all and in the structured writers:
// hello, database description, requests, updates with every LSA body of
// versions 2 and 3, acknowledgements; the header text stays as it was.
#include <gtest/gtest.h>

#include <string>

#include "decode/expected_text.h"
#include "decode/routing/ospf.h"
#include "routing_harness.h"
#include "support.h"

namespace {

using routing_test::short_form;

struct ospf_case {
    const char* name;  // also the section of tests/data/ospf_bodies*.txt
    std::string packet;
};

// Version 2 from router 1.1.1.1 in area 0, built with scapy; version 3
// updates carry one LSA of each type decoded, and one that is not.
const ospf_case cases[] = {
    {"v2 hello",
     "020100340101010100000000e88900000000000000000000 ffffff00 000a 00 01 00000028 0a000001 00000000 "
     "02020202 03030303"},
    {"v2 database description",
     "02020034010101010000000061270000000000000000000005dc0007000010920001000101010101010101018000000100000024"},
    {"v2 request", "020300240101010100000000f7d100000000000000000000000000010101010101010101"},
    {"v2 update",
     "020400a001010101000000002d20000000000000000000000000000400010001010101010101010180000001f33e00240000000102"
     "0202020a0000010100000a000100020a00000101010101800000017bc50020ffffff00010101010202020200010003c0a8000001"
     "0101018000000182 5b001cffffff000000001400010005ac1000000101010180000001c7e00024ffff000080000064000000000000"
     "0007"},
    {"v2 acknowledgement", "0205002c01010101000000006fa000000000000000000000000100020a000001010101018000000200000024"},
    {"v3 hello", "030100280101010100000000f78e00000000000501000000000a0028000000000000000002020202"},
    {"v3 database description",
     "03020030010101010000000054a300000000000005dc0007000000090001200100000000010101018000000100000024"},
    {"v3 update",
     "03040154010101010000000000000000000000080001200100000000010101018000000100000028010000130200000a0000000500"
     "00000602020202000120020000000501010101800000010000002000000013010101010202020200012003000000010101010180"
     "000001000000200000001e2000000020010db80001200400000002010101018000000100000020000000130000002803030303000"
     "140050000000901010101800000010000003c030000143000200120010db80003000020010db800000000000000000000000900"
     "00004d00000007000100080000000501010101800000010000003801000013fe8000000000000000000000000000010000000140"
     "00000020010db800010000000120090000000101010101800000010000002c0001200100000000010101014000000a20010db800"
     "0200000001200a0000000101010101800000010000001801020304"},
    // Faults: an LSA count above what follows, an LSA length below its
    // header, a packet length beyond the IP payload.
    {"v2 update with fewer lsas", "0204 001c 01010101 00000000 0000 0000 0000000000000000 00000002"},
    {"v2 lsa shorter than its header",
     "0204 0030 01010101 00000000 0000 0000 0000000000000000 00000001 0001 00 01 01010101 01010101 80000001 "
     "0000 0010"},
    {"v2 length beyond the packet", "0201 0040 01010101 00000000 0000 0000 0000000000000000 ffffff00 000a 00 01"},
};

bool has_section(const std::string& file, const std::string& name) {
    return test::expected_section(file, name).rfind("<no section", 0) != 0;
}

int (*decoder_of(const ospf_case& c))(decode_context&, const frame_lengths*, const uint8_t*, unsigned) {
    return c.name[1] == '3' ? short_form<decode_ospfv3> : short_form<decode_ospf>;
}

TEST(OspfBodies, ExpandedText) {
    for (const auto& c : cases) {
        test::reset({"expand-all", "verbose"});
        std::string out = test::decode(decoder_of(c), test::hex(c.packet));
        EXPECT_EQ(out, test::expected_section("ospf_bodies.txt", c.name)) << c.name;
    }
}

// Without --expand-all the text is the header alone, as it always was.
TEST(OspfBodies, DefaultTextIsTheHeader) {
    for (const auto& c : cases) {
        test::reset({});
        std::string out = test::decode(decoder_of(c), test::hex(c.packet));
        std::string expanded = test::expected_section("ospf_bodies.txt", c.name);
        // The header's lines end with the authentication type or the
        // instance id.
        size_t end = expanded.find('\n', expanded.find(c.name[1] == '3' ? "Instance ID" : "Authentication Type"));
        EXPECT_EQ(out, expanded.substr(0, end + 1)) << c.name;
    }
}

// tests/data/ospf_bodies.json.txt: per case a part of the JSON line and the
// summary line's facts.
TEST(OspfBodies, JsonAndSummary) {
    for (const auto& c : cases) {
        if (!has_section("ospf_bodies.json.txt", c.name)) continue;
        std::string expected = test::expected_section("ospf_bodies.json.txt", c.name);
        size_t newline = expected.find('\n');
        std::string layers = expected.substr(0, newline);
        std::string facts = expected.substr(newline + 1, expected.size() - newline - 2);
        test::reset({"json"});
        std::string line = test::decode_record(decoder_of(c), test::hex(c.packet));
        EXPECT_TRUE(test::valid_json(line)) << line;
        EXPECT_NE(line.find(layers), std::string::npos) << c.name << "\n" << line;
        test::reset({"summary"});
        line = test::decode_record(decoder_of(c), test::hex(c.packet));
        EXPECT_NE(line.find(facts), std::string::npos) << c.name << "\n" << line;
    }
}

TEST(OspfBodies, EveryPrefix) {
    for (const auto& c : cases) {
        test::bytes packet = test::hex(c.packet);
        EXPECT_EQ(test::invalid_json_prefix(decoder_of(c), packet), "") << c.name;
        test::reset({"expand-all", "verbose", "statistic"});
        EXPECT_GT(test::decode_all_prefixes(decoder_of(c), packet), 0) << c.name;
    }
}

}  // namespace
