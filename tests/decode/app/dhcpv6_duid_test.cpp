// DHCPv6 client and server identifiers: the DUID's parts by its type,
// under --expand-all and always in the record.
#include <gtest/gtest.h>

#include "app_frames.h"
#include "decode/expected_text.h"

namespace {

using test::bytes;
using test::hex;

// A Reply (type 7, transaction 0x123456) with the given options.
bytes reply(const std::string& options) { return appf::udp6(hex("07 123456" + options), 547, 546); }

const struct duid_case {
    const char* name;  // also the section of tests/data/dhcpv6_duid.txt
    bytes frame;
    const char* json;
} cases[] = {
    // Link-layer address plus time: Ethernet, 2026-12-08 12:00:00 UTC.
    {"llt", reply("0002 000e 0001 0001 32aaadc0 020000000002"),
     "\"duid_type\":1,\"duid_type_name\":\"link-layer address plus time\",\"duid\":\"000132aaadc0020000000002\","
     "\"duid_hardware_type\":1,\"duid_time\":850046400,\"duid_time_utc\":\"2026-12-08 12:00:00 UTC\","
     "\"duid_link_address\":\"02:00:00:00:00:02\""},
    {"en", reply("0001 000a 0002 00000009 0c0a0b0c"), "\"duid_enterprise\":9,\"duid_identifier\":\"0c0a0b0c\""},
    {"ll", reply("0001 000a 0003 0001 020000000001"),
     "\"duid_hardware_type\":1,\"duid_link_address\":\"02:00:00:00:00:01\""},
    {"uuid", reply("0001 0012 0004 0123456789abcdef0123456789abcdef"),
     "\"duid_uuid\":\"01234567-89ab-cdef-0123-456789abcdef\""},
    // A UUID of 15 bytes shows its bytes only.
    {"uuid short", reply("0001 0011 0004 0123456789abcdef0123456789abcd"),
     "\"duid\":\"0123456789abcdef0123456789abcd\"}"},
    // Inside a relay message the line is indented with its option.
    {"relayed",
     appf::udp6(hex("0c 00 20010db8000000000000000000000001 fe800000000000000000000000000002 "
                    "0009 0012 01 abcdef 0001 000a 0003 0001 020000000003"),
                547, 547),
     "\"duid_link_address\":\"02:00:00:00:00:03\""},
};

TEST(Dhcpv6Duid, ExpandedTextAndRecord) {
    for (const auto& c : cases) {
        test::reset({"expand-all", "verbose"});
        EXPECT_EQ(appf::decode_from(c.frame, "- DHCPv6"), test::expected_section("dhcpv6_duid.txt", c.name)) << c.name;
        test::reset({"json"});
        std::string line = appf::json(c.frame);
        EXPECT_TRUE(test::valid_json(line)) << line;
        EXPECT_NE(line.find(c.json), std::string::npos) << c.name << "\n" << line;
        EXPECT_EQ(test::invalid_json_prefix(decode_ethernet, c.frame, 14), "") << c.name;
        test::reset({"expand-all", "verbose", "statistic"});
        EXPECT_GT(test::decode_all_prefixes(decode_ethernet, c.frame, 14), 0) << c.name;
    }
}

TEST(Dhcpv6Duid, DefaultTextShowsTheBytesOnly) {
    test::reset({});
    EXPECT_EQ(appf::decode_from(cases[0].frame, "- DHCPv6"),
              "- DHCPv6 Header -\n  Message type: 7, Transaction ID: 0x123456\n"
              "  Option: 2, Length: 14, DUID type: 1, DUID: 00 01 32 aa ad c0 02 00 00 00 00 02\n");
}

}  // namespace
