// BGP messages under --expand-all and in the structured writers: OPEN
// capabilities, UPDATE path attributes and prefixes, NOTIFICATION codes,
// several messages in one segment; the header text stays as it was.
#include <gtest/gtest.h>

#include <string>

#include "decode/expected_text.h"
#include "decode/routing/bgp.h"
#include "routing_harness.h"
#include "support.h"

namespace {

using routing_test::short_form;

const std::string marker = "ffffffffffffffffffffffffffffffff";

struct bgp_case {
    const char* name;  // also the section of tests/data/bgp_messages*.txt
    std::string message;
};

const bgp_case cases[] = {
    // AS 65001, hold 180, id 10.0.0.1; multiprotocol IPv4 unicast, route
    // refresh, 4-octet AS 4200000001, graceful restart.
    {"open with capabilities",
     marker + "0031 01 04 fde9 00b4 0a000001 14 02 12 01040001 0001 0200 4104fa56ea01 40020078"},
    // Withdrawn 10.1.0.0/16; ORIGIN, 4-octet AS_PATH with a set, NEXT_HOP,
    // MED, LOCAL_PREF, COMMUNITIES; NLRI 192.0.2.0/24 and 10.2.0.0/16.
    {"update ipv4",
     marker + "0058 02 0003 100a01 0037 40010100 4002100202 0000fde9 0000fdea 0101 0000fdeb 400304c0000201 "
              "80040400000064 400504000000c8 c00808fde90064ffffff01 18c00002 100a02"},
    // 2-octet AS_PATH, MP_REACH_NLRI (extended length) and MP_UNREACH_NLRI
    // for IPv6 unicast.
    {"update ipv6 multiprotocol",
     marker + "0053 02 0000 003c 40010102 400206 0202fde9fdea "
              "900e001c 0002 01 10 20010db8000000000000000000000001 00 30 20010db80001 "
              "800f0c 0002 01 40 20010db800020000"},
    {"notification cease", marker + "0019 03 06 02 03626965"},
    {"keep-alive and end of rib", marker + "0013 04" + marker + "0017 02 0000 0000"},
    {"route refresh", marker + "0017 05 0001 00 01"},
    {"attribute cut short", marker + "0019 02 0000 0002 4001"},
    {"message continues", marker + "0100 02 0000"},
};

bool has_section(const std::string& file, const std::string& name) {
    return test::expected_section(file, name).rfind("<no section", 0) != 0;
}

TEST(BgpMessages, ExpandedText) {
    for (const auto& c : cases) {
        test::reset({"expand-all", "verbose"});
        std::string out = test::decode(short_form<decode_bgp>, test::hex(c.message));
        EXPECT_EQ(out, test::expected_section("bgp_messages.txt", c.name)) << c.name;
    }
}

// Without --expand-all the text is the header alone, whatever follows it.
TEST(BgpMessages, DefaultTextIsTheHeader) {
    for (const auto& c : cases) {
        test::reset({});
        std::string out = test::decode(short_form<decode_bgp>, test::hex(c.message));
        size_t length = std::stoul(c.message.substr(32, 4), nullptr, 16);
        unsigned type = static_cast<unsigned>(std::stoul(c.message.substr(37, 2), nullptr, 16));
        EXPECT_EQ(out, "- BGP Header -\n  Marker: \"................\"\n  Length: " + std::to_string(length) +
                           ", Type: " + std::to_string(type) + "\n")
            << c.name;
    }
}

// tests/data/bgp_messages.json.txt: per case a part of the JSON line and
// the summary line's facts.
TEST(BgpMessages, JsonAndSummary) {
    for (const auto& c : cases) {
        if (!has_section("bgp_messages.json.txt", c.name)) continue;
        std::string expected = test::expected_section("bgp_messages.json.txt", c.name);
        size_t newline = expected.find('\n');
        std::string layers = expected.substr(0, newline);
        std::string facts = expected.substr(newline + 1, expected.size() - newline - 2);
        test::reset({"json"});
        std::string line = test::decode_record(short_form<decode_bgp>, test::hex(c.message));
        EXPECT_TRUE(test::valid_json(line)) << line;
        EXPECT_NE(line.find(layers), std::string::npos) << c.name << "\n" << line;
        test::reset({"summary"});
        line = test::decode_record(short_form<decode_bgp>, test::hex(c.message));
        EXPECT_NE(line.find(facts), std::string::npos) << c.name << "\n" << line;
    }
}

TEST(BgpMessages, EveryPrefix) {
    for (const auto& c : cases) {
        test::bytes message = test::hex(c.message);
        EXPECT_EQ(test::invalid_json_prefix(short_form<decode_bgp>, message), "") << c.name;
        test::reset({"expand-all", "verbose", "statistic"});
        EXPECT_GT(test::decode_all_prefixes(short_form<decode_bgp>, message), 0) << c.name;
    }
}

}  // namespace
