// DHCP (RFC 2131/2132), DHCPv6 (RFC 8415), NTP (RFC 5905), syslog
// (RFC 3164/5424) and SNMP (RFC 1157/3416) from messages written out by
// those RFCs.
#include <gtest/gtest.h>

#include <chrono>

#include "app_frames.h"
#include "stats/counters.h"

namespace {

using test::bytes;
using test::hex;

bytes dhcp_discover() {
    bytes m =
        hex("01 01 06 00 3903f326 0000 8000 00000000 00000000 00000000 00000000 020000000001 00000000000000000000");
    m.resize(236, 0);
    bytes options = hex("63825363 3501 01 3204 c0000264 0c06 6c6170746f70 3704 0103060f 3d07 01020000000001 ff");
    return test::concat({m, options});
}

bytes dhcpv6_reply() {
    return hex(
        "07 123456"
        "0002 000a 0003 0001 020000000002"                                   // server id
        "0003 0028 00000001 00000708 00000b40"                               // IA_NA
        "  0005 0018 20010db8000000000000000000000100 00000e10 00001c20"     // address
        "0019 0029 00000002 00000708 00000b40"                               // IA_PD
        "  001a 0019 00000e10 00001c20 38 20010db8000100000000000000000000"  // prefix
        "0017 0010 20010db8000000000000000000000053"                         // DNS
        "0018 000d 076578616d706c65036f726700");                             // domains
}

// 2024-01-01 00:00:00 UTC is 3913056000 seconds after 1900.
bytes ntp_server() {
    return hex(
        "24 02 06 e9 00000400 00008000 c00002c8 e93c7ef6 00000000 e93c7f00 80000000 e93c7f00 c0000000"
        "e93c7f00 d0000000");
}

TEST(UdpServices, ExactText) {
    bytes snmp =
        hex("30 3a 020101 0406 7075626c6963 a2 2d 020204d2 020100 020100 30 21"
            "  30 15 0608 2b06010201010100 0409 4c696e757820626f78"
            "  30 08 0604 2b060102 4100");
    bytes trap =
        hex("30 32 020100 0406 7075626c6963 a4 25 0606 2b0601040100 4004 c0000201 020103 020100 4302 0100"
            "30 0b 30 09 0604 2b060102 020105");
    struct {
        const char* name;
        std::initializer_list<const char*> flags;
        bytes frame;
        const char* banner;
        const char* expected;
    } cases[] = {
        {"DHCP discover",
         {},
         appf::udp4(dhcp_discover(), 68, 67),
         "- DHCP Header -",
         "- DHCP Header -\n"
         "  Op: 1, Transaction ID: 0x3903f326\n"
         "  Client IP: 0.0.0.0, Your IP: 0.0.0.0\n"
         "  Server IP: 0.0.0.0, Relay IP: 0.0.0.0\n"
         "  Client hardware address: 02:00:00:00:00:01\n"
         "  Option: 53, Length: 1, Message type: 1\n"
         "  Option: 50, Length: 4, Address: 192.0.2.100\n"
         "  Option: 12, Length: 6, Text: \"laptop\"\n"
         "  Option: 55, Length: 4, Codes: 1, 3, 6, 15\n"
         "  Option: 61, Length: 7, Hardware type: 1, Address: 02:00:00:00:00:01\n"},
        {"DHCP discover expanded",
         {"expand-all", "verbose"},
         appf::udp4(dhcp_discover(), 68, 67),
         "- DHCP Header -",
         "- DHCP Header -\n"
         "  Op: 1 (Request), Transaction ID: 0x3903f326\n"
         "  Hardware type: 1, Length: 6, Hops: 0\n"
         "  Seconds: 0, Flags: 0x8000 (Broadcast)\n"
         "  Client IP: 0.0.0.0, Your IP: 0.0.0.0\n"
         "  Server IP: 0.0.0.0, Relay IP: 0.0.0.0\n"
         "  Client hardware address: 02:00:00:00:00:01\n"
         "  Server name: \"\", Boot file: \"\"\n"
         "  Magic cookie: 0x63825363\n"
         "  Option: 53 (DHCP message type), Length: 1, Message type: 1 (Discover)\n"
         "  Option: 50 (Requested IP address), Length: 4, Address: 192.0.2.100\n"
         "  Option: 12 (Host name), Length: 6, Text: \"laptop\"\n"
         "  Option: 55 (Parameter request list), Length: 4, Codes: 1, 3, 6, 15\n"
         "  Option: 61 (Client identifier), Length: 7, Hardware type: 1, Address: 02:00:00:00:00:01\n"
         "  Option: 255 (End)\n"},
        {"DHCPv6 reply",
         {},
         appf::udp6(dhcpv6_reply(), 547, 546),
         "- DHCPv6 Header -",
         "- DHCPv6 Header -\n"
         "  Message type: 7, Transaction ID: 0x123456\n"
         "  Option: 2, Length: 10, DUID type: 3, DUID: 00 01 02 00 00 00 00 02\n"
         "  Option: 3, Length: 40, IAID: 0x00000001, T1: 1800, T2: 2880\n"
         "    Option: 5, Length: 24, Address: 2001:db8::100, Preferred: 3600, Valid: 7200\n"
         "  Option: 25, Length: 41, IAID: 0x00000002, T1: 1800, T2: 2880\n"
         "    Option: 26, Length: 25, Prefix: 2001:db8:1::/56, Preferred: 3600, Valid: 7200\n"
         "  Option: 23, Length: 16, Addresses: 2001:db8::53\n"
         "  Option: 24, Length: 13, Domains: example.org\n"},
        {"NTP server",
         {},
         appf::udp4(ntp_server(), 123, 123),
         "- NTP Header -",
         "- NTP Header -\n"
         "  Leap: 0, Version: 4, Mode: 4\n"
         "  Stratum: 2, Poll: 6, Precision: -23\n"
         "  Transmit time: 2024-01-01 00:00:00.812500 UTC\n"},
        {"NTP server expanded",
         {"expand-all", "verbose"},
         appf::udp4(ntp_server(), 123, 123),
         "- NTP Header -",
         "- NTP Header -\n"
         "  Leap: 0, Version: 4, Mode: 4 (server)\n"
         "  Stratum: 2, Poll: 6, Precision: -23\n"
         "  Root delay: 0.015625, Root dispersion: 0.500000\n"
         "  Reference ID: 192.0.2.200\n"
         "  Reference time: 2023-12-31 23:59:50.000000 UTC\n"
         "  Origin time: 2024-01-01 00:00:00.500000 UTC\n"
         "  Receive time: 2024-01-01 00:00:00.750000 UTC\n"
         "  Transmit time: 2024-01-01 00:00:00.812500 UTC\n"},
        {"syslog",
         {"verbose"},
         appf::udp4(hex("3c33343e7375203a20626164 0a"), 40000, 514),
         "- Syslog Message -",
         "- Syslog Message -\n"
         "  Priority: 34, Facility: 4 (auth), Severity: 2 (crit)\n"
         "  Message: \"su : bad.\"\n"},
        {"syslog without priority",
         {},
         appf::udp4(hex("68656c6c6f"), 40000, 514),
         "- Syslog Message -",
         "- Syslog Message -\n"
         "  [no priority]\n"
         "  Message: \"hello\"\n"},
        {"SNMP response",
         {"verbose"},
         appf::udp4(snmp, 161, 40001),
         "- SNMP Header -",
         "- SNMP Header -\n"
         "  Version: 1 (v2c), Community: \"public\"\n"
         "  PDU: 2 (Response), Request ID: 1234\n"
         "  Binding: 1.3.6.1.2.1.1.1.0, STRING: \"Linux box\"\n"
         "  Binding: 1.3.6.1.2, Counter32: 0\n"},
        {"SNMP v1 trap",
         {"verbose"},
         appf::udp4(trap, 40001, 162),
         "- SNMP Header -",
         "- SNMP Header -\n"
         "  Version: 0 (v1), Community: \"public\"\n"
         "  PDU: 4 (Trap), Enterprise: 1.3.6.1.4.1.0\n"
         "  Agent: 192.0.2.1, Generic trap: 3 (linkUp), Specific trap: 0, Time stamp: 256\n"
         "  Binding: 1.3.6.1.2, INTEGER: 5\n"},
    };
    for (const auto& c : cases) {
        test::reset(c.flags);
        EXPECT_EQ(appf::decode_from(c.frame, c.banner), c.expected) << c.name;
    }
}

TEST(UdpServices, RecordsSummariesAndCounters) {
    bytes snmp =
        hex("30 29 020101 0406 7075626c6963 a0 1c 020204d2 020100 020100 30 10"
            "  30 0e 060a 2b060102010202010a01 0500");
    struct {
        const char* name;
        bytes frame;
        std::initializer_list<const char*> parts;
        const char* summary;
        uint32_t protocol_counters::*counter;
    } cases[] = {
        {"DHCP",
         appf::udp4(dhcp_discover(), 68, 67),
         {"\"dhcp\":{\"op\":1", "\"xid\":956560166", "\"client_mac\":\"02:00:00:00:00:01\"",
          "{\"code\":53,\"code_name\":\"DHCP message type\",\"length\":1,\"message_type\":1,"
          "\"message_type_name\":\"Discover\"}",
          "\"addresses\":[\"192.0.2.100\"]", "\"codes\":[1,3,6,15]"},
         " DHCP Discover 192.0.2.100 client 02:00:00:00:00:01 (",
         &protocol_counters::dhcp},
        {"DHCPv6",
         appf::udp6(dhcpv6_reply(), 547, 546),
         {"\"dhcpv6\":{\"msg_type\":7,\"msg_type_name\":\"Reply\",\"xid\":1193046",
          "\"address\":\"2001:db8::100\"", "\"prefix\":\"2001:db8:1::\",\"prefix_length\":56",
          "\"domains\":[\"example.org\"]"},
         " DHCPv6 Reply 2001:db8::100 (",
         &protocol_counters::dhcpv6},
        {"NTP",
         appf::udp4(ntp_server(), 123, 123),
         {"\"ntp\":{\"leap\":0,\"version\":4,\"mode\":4,\"mode_name\":\"server\",\"stratum\":2",
          "\"root_delay_us\":15625", "\"reference_id\":\"192.0.2.200\"",
          "\"transmit_time\":\"2024-01-01T00:00:00.812500Z\""},
         " NTP server, stratum 2 (",
         &protocol_counters::ntp},
        {"syslog",
         appf::udp4(hex("3c3138393e6869"), 40000, 514),
         {"\"syslog\":{\"priority\":189,\"facility\":23,\"facility_name\":\"local7\",\"severity\":5",
          "\"message\":\"hi\""},
         " Syslog local7.notice hi (",
         &protocol_counters::syslog},
        {"SNMP",
         appf::udp4(snmp, 40001, 161),
         {"\"snmp\":{\"version\":1,\"version_name\":\"v2c\",\"community\":\"public\",\"pdu_type\":0",
          "\"bindings\":[{\"oid\":\"1.3.6.1.2.1.2.2.1.10.1\",\"value_type\":5"},
         " SNMP GetRequest 1.3.6.1.2.1.2.2.1.10.1 (",
         &protocol_counters::snmp},
    };
    for (const auto& c : cases) {
        test::reset({"json"});
        std::string line = appf::json(c.frame);
        EXPECT_TRUE(test::valid_json(line)) << c.name << line;
        for (const char* part : c.parts)
            EXPECT_NE(line.find(part), std::string::npos) << c.name << ": " << part << "\n" << line;
        test::reset({"summary"});
        line = appf::json(c.frame);
        EXPECT_NE(line.find(c.summary), std::string::npos) << c.name << ": " << line;
        test::reset({"statistic"});
        ipf::decode_ethernet_frame(c.frame);
        EXPECT_EQ(counters.*c.counter, 1u) << c.name;
    }
}

TEST(UdpServices, MalformedMessagesSaySoInBoundedTime) {
    // 2000 nested SEQUENCEs as a binding's value.
    auto sequence = [](uint8_t tag, const bytes& inner) {
        size_t n = inner.size();
        bytes h = n < 128 ? bytes{tag, static_cast<uint8_t>(n)}
                          : bytes{tag, 0x82, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
        return test::concat({h, inner});
    };
    bytes binding_value = hex("0500");
    for (int i = 0; i < 2000; ++i) binding_value = sequence(0x30, binding_value);
    bytes binding = sequence(0x30, test::concat({hex("0604 2b060102"), binding_value}));
    bytes pdu = sequence(0xa2, test::concat({hex("020101 020100 020100"), sequence(0x30, binding)}));
    bytes nested = sequence(0x30, test::concat({hex("020101 0406 7075626c6963"), pdu}));

    bytes dhcp_option_past_end = dhcp_discover();
    dhcp_option_past_end.resize(240);
    // The client id claims 48 bytes.
    dhcp_option_past_end.insert(dhcp_option_past_end.end(), {0x3d, 0x30, 0x01, 0x02});
    struct {
        const char* name;
        bytes frame;
        const char* error;
    } cases[] = {
        {"SNMP deep nesting", appf::udp4(nested, 40001, 161), "BER nesting too deep"},
        {"SNMP length past its parent", appf::udp4(hex("30 0a 020101 0410 7075626c6963"), 40001, 161),
         "a BER length runs past its enclosing element"},
        {"SNMP indefinite length", appf::udp4(hex("30 80 020101 0000"), 40001, 161), "indefinite BER length"},
        {"SNMP length past the message", appf::udp4(hex("30 7f 020101"), 40001, 161),
         "a length runs past the end of the message"},
        {"DHCP option past the end", appf::udp4(dhcp_option_past_end, 68, 67),
         "an option runs past the end of the message"},
        {"DHCPv6 option past its IA",
         appf::udp6(hex("07 000001 0003 0010 00000001 00000000 00000000 0005 0018 00000000"), 547, 546),
         "an option runs past its enclosing option"},
        {"NTP too short", appf::udp4(hex("23 00 06 e9"), 123, 123), "a length runs past the end of the message"},
    };
    for (const auto& c : cases) {
        test::reset({"statistic"});
        auto start = std::chrono::steady_clock::now();
        std::string out = ipf::decode_ethernet_frame(c.frame);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << c.name;
        EXPECT_NE(out.find(std::string("  [malformed: ") + c.error + "]\n"), std::string::npos) << c.name << out;
        EXPECT_EQ(counters.udp, 1u) << c.name;
        test::reset({"json"});
        std::string line = appf::json(c.frame);
        EXPECT_TRUE(test::valid_json(line)) << c.name << line;
        EXPECT_NE(line.find("\"malformed\":true"), std::string::npos) << c.name;
    }
}

TEST(UdpServices, EveryPrefixEndsCleanly) {
    bytes snmp =
        hex("30 3a 020101 0406 7075626c6963 a2 2d 020204d2 020100 020100 30 21"
            "  30 15 0608 2b06010201010100 0409 4c696e757820626f78"
            "  30 08 0604 2b060102 4100");
    for (const bytes& frame :
         {appf::udp4(dhcp_discover(), 68, 67), appf::udp6(dhcpv6_reply(), 547, 546), appf::udp4(ntp_server(), 123, 123),
          appf::udp4(hex("3c33343e6869"), 40000, 514), appf::udp4(snmp, 161, 40001)}) {
        test::reset({"expand-all", "verbose"});
        EXPECT_GT(test::decode_all_prefixes(decode_ethernet, frame, 14), 0);
        EXPECT_EQ(test::invalid_json_prefix(decode_ethernet, frame, 14), "");
    }
}

}  // namespace
