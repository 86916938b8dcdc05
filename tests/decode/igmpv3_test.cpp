// IGMP queries by their length and version 3 membership reports: the
// fixed lines stay as they were, the rest shows under --expand-all and is
// always recorded.
#include <gtest/gtest.h>

#include "decode/ip/igmp.h"
#include "expected_text.h"
#include "ip_frames.h"
#include "stats/counters.h"

namespace {

using test::bytes;
using test::hex;

bytes igmp(uint8_t type, uint8_t code, const std::string& rest) {
    return ipf::ipv4(2, ipf::icmp(type, code, hex(rest)));
}

const struct igmp_case {
    const char* name;
    bytes packet;
    const char* expected_file;  // the IGMP text under --expand-all --verbose
    unsigned v3;                // counted as version 3
} cases[] = {
    {"v1 query", igmp(0x11, 0, "00000000"), "igmp_query_v1.txt", 0},
    {"v2 query", igmp(0x11, 100, "e0000001"), "igmp_query_v2.txt", 0},
    {"v3 query, two sources", igmp(0x11, 100, "ef010101 0a 7d 0002 0a000001 0a000002"), "igmp_query_v3.txt", 1},
    // Codes of 128 and more: 0x8c is 224 tenths, QQIC 0x90 256 seconds.
    {"v3 query, exponent codes", igmp(0x11, 0x8c, "00000000 02 90 0000"), "igmp_query_v3_exponent.txt", 1},
    {"query of 10 bytes", igmp(0x11, 100, "00000000 0000"), "igmp_query_bad_length.txt", 0},
    {"v3 report, two records", igmp(0x22, 0, "0000 0002 04 00 0000 ef090909 01 01 0001 ef020202 0a010101 aabbccdd"),
     "igmp_report_v3.txt", 1},
    {"v3 report, records missing", igmp(0x22, 0, "0000 0003 02 00 0000 ef090909"), "igmp_report_v3_short.txt", 1},
};

TEST(Igmpv3, ExpandedTextAndCounter) {
    for (const auto& c : cases) {
        test::reset({"expand-all", "verbose", "statistic"});
        std::string text = ipf::slice(ipf::decode_ip(c.packet), "- IGMP");
        EXPECT_EQ(text, test::expected_text(c.expected_file)) << c.name;
        EXPECT_EQ(counters.igmpv3, c.v3) << c.name;
    }
}

TEST(Igmpv3, PlainTextKeepsTheFixedLines) {
    for (const auto& c : cases) {
        test::reset({});
        std::string text = ipf::slice(ipf::decode_ip(c.packet), "- IGMP");
        size_t last = text.rfind("\n  Group Addr: ");
        ASSERT_NE(last, std::string::npos) << c.name;
        EXPECT_EQ(text.find('\n', last + 1), text.size() - 1) << c.name << "\n" << text;
        EXPECT_EQ(text.find("Query version"), std::string::npos) << c.name;
        EXPECT_EQ(text.find("Record"), std::string::npos) << c.name;
    }
}

TEST(Igmpv3, RecordsAndPrefixes) {
    const struct {
        size_t index;
        const char* part;
    } parts[] = {
        {1, "\"query_version\":2,\"max_response_tenths\":100}"},
        {2,
         "\"query_version\":3,\"max_response_tenths\":100,\"suppress\":1,\"qrv\":2,\"qqic\":125,\"source_count\":2,"
         "\"source_addresses\":[\"10.0.0.1\",\"10.0.0.2\"]}"},
        {5,
         "\"record_count\":2,\"records\":[{\"type\":4,\"type_name\":\"CHANGE_TO_EXCLUDE_MODE\",\"group\":"
         "\"239.9.9.9\",\"sources\":0},{\"type\":1,\"type_name\":\"MODE_IS_INCLUDE\",\"group\":\"239.2.2.2\","
         "\"sources\":1,\"aux_length\":1,\"source_addresses\":[\"10.1.1.1\"]}]}"},
        {6, "\"error\":\"group records run past the message\""},
    };
    for (const auto& p : parts) {
        test::reset({"json"});
        std::string line = test::decode_record(decode_ip_version, cases[p.index].packet);
        EXPECT_TRUE(test::valid_json(line)) << line;
        EXPECT_NE(line.find(p.part), std::string::npos) << cases[p.index].name << "\n" << line;
    }
    for (const auto& c : cases) {
        EXPECT_EQ(test::invalid_json_prefix(decode_ip_version, c.packet), "") << c.name;
        test::reset({"expand-all", "verbose", "statistic", "calc-checksums"});
        EXPECT_GT(test::decode_all_prefixes(decode_ip_version, c.packet), 0) << c.name;
    }
    test::reset({"summary"});
    EXPECT_NE(test::decode_record(decode_ip_version, cases[5].packet).find("v3 report, 2 records"), std::string::npos);
}

}  // namespace
