// Linux cooked capture, versions 1 and 2: the same payload reads the same
// behind either header, the record carries the header's fields, and a
// capture file of link type 276 decodes.
#include "decode/link/linux_cooked.h"

#include <gtest/gtest.h>

#include <string>

#include "stats/counters.h"
#include "support.h"

namespace {

using test::bytes;
using test::hex;

const std::string ipv4_udp = "45000020 00010000 4011e7cb 0a000001 0a000002 3039 270f 000c 0000 61626364";
const std::string arp_request = "0001 0800 06 04 0001 020000000001 0a000001 000000000000 0a000002";

// Version 1: packet type, hardware type, address length, 8 address bytes,
// protocol. Version 2: protocol, reserved, interface index, hardware type,
// packet type, address length, 8 address bytes.
bytes cooked1(const std::string& protocol, const std::string& payload) {
    return hex("0004 0001 0006 020000000001 0000" + protocol + payload);
}
bytes cooked2(const std::string& protocol, const std::string& payload) {
    return hex(protocol + "0000 00000003 0001 04 06 020000000001 0000" + payload);
}

TEST(LinuxCooked, BothVersionsDecodeTheSamePayload) {
    const struct {
        const char* name;
        std::string protocol;
        std::string payload;
        bool prints;
    } cases[] = {
        {"IPv4", "0800", ipv4_udp, true},
        {"ARP", "0806", arp_request, true},
        {"802.2 LLC", "0001", "060603" + ipv4_udp, true},
        {"Novell raw 802.3", "0004", "ffff 001e 00 11 00000001 ffffffffffff 0452 00000002 020000000001 4000", true},
        {"CAN, not decoded", "000c", "0000012300000000", false},
    };
    for (const auto& c : cases) {
        for (const char* flags : {"", "verbose"}) {
            test::reset({"expand-all"});
            settings.verbose = *flags != 0;
            std::string one = test::decode(decode_linux_cooked, cooked1(c.protocol, c.payload));
            std::string two = test::decode(decode_linux_cooked2, cooked2(c.protocol, c.payload));
            EXPECT_EQ(one, two) << c.name;
            EXPECT_EQ(!one.empty(), c.prints) << c.name << "\n" << one;
        }
    }
}

TEST(LinuxCooked, RecordsTheHeaderFields) {
    const struct {
        const char* name;
        link_decoder decoder;
        bytes frame;
        std::string layer;
    } cases[] = {
        {"version 1", decode_linux_cooked, cooked1("0806", arp_request),
         "\"linux_cooked\":{\"protocol\":2054,\"packet_type\":4,\"packet_type_name\":\"Sent by us\","
         "\"hardware_type\":1,\"address_length\":6,\"address\":\"02:00:00:00:00:01\"}"},
        {"version 2", decode_linux_cooked2, cooked2("0806", arp_request),
         "\"linux_cooked\":{\"version\":2,\"protocol\":2054,\"interface_index\":3,\"packet_type\":4,"
         "\"packet_type_name\":\"Sent by us\",\"hardware_type\":1,\"address_length\":6,"
         "\"address\":\"02:00:00:00:00:01\"}"},
        // An address length beyond the field shows the 8 bytes there are.
        {"version 2, long address", decode_linux_cooked2,
         hex("0800 0000 00000001 0304 00 10 0102030405060708" + ipv4_udp),
         "\"packet_type_name\":\"To us\",\"hardware_type\":772,\"address_length\":16,"
         "\"address\":\"01:02:03:04:05:06:07:08\"}"},
    };
    for (const auto& c : cases) {
        test::reset({"json"});
        std::string line = test::decode_record(c.decoder, c.frame);
        EXPECT_TRUE(test::valid_json(line)) << c.name << "\n" << line;
        EXPECT_NE(line.find(c.layer), std::string::npos) << c.name << "\n" << line;
        EXPECT_EQ(test::invalid_json_prefix(c.decoder, c.frame), "") << c.name;
    }
}

TEST(LinuxCooked, EveryPrefixOfVersion2) {
    for (const auto& frame : {cooked2("0800", ipv4_udp), cooked2("0806", arp_request), cooked2("0001", "e0e003")}) {
        test::reset({"expand-all", "statistic", "verbose"});
        EXPECT_GT(test::decode_all_prefixes(decode_linux_cooked2, frame), 0);
    }
}

TEST(LinuxCooked, Version2CaptureFile) {
    test::temp_dir dir;
    test::write_file(dir.file("any.pcap"), test::pcap_file({{cooked2("0800", ipv4_udp)}}, 276));
    auto r = test::run_nodrix({"-P", dir.file("any.pcap"), "--statistic"});
    ASSERT_EQ(r.status, 0) << r.err;
    // The frame line, then IPv4 as behind any link header of no text.
    EXPECT_NE(r.out.find("(52/52 bytes length)... Utilization: n.a.\n\n- IPv4 Header -\n  Version: 4, Hdr-Len: 5"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Cooked v2\t1"), std::string::npos) << r.out;
}

}  // namespace
