// The structured record of the IP families behind IPv4/IPv6: ICMPv6, IGMP,
// IPsec, tunnels, IPX/SPX, SCTP and IPv7.
#include <gtest/gtest.h>

#include "ip_frames.h"

using test::bytes;
using test::hex;

namespace {

struct json_case {
    const char* name;
    bytes frame;  // raw IP unless `ethernet`
    std::vector<std::string> parts;
    bool ethernet = false;
};

// Every case decodes to one valid JSON line holding its parts, and every
// prefix of its frame still gives valid JSON.
void check(const std::vector<json_case>& cases) {
    for (const auto& c : cases) {
        link_decoder decoder = c.ethernet ? decode_ethernet : decode_ip_version;
        unsigned link = c.ethernet ? 14 : 0;
        test::reset({"json", "calc-checksums"});
        std::string line = test::decode_record(decoder, c.frame, link);
        EXPECT_TRUE(test::valid_json(line)) << c.name << ": " << line;
        for (const auto& part : c.parts)
            EXPECT_NE(line.find(part), std::string::npos) << c.name << ": " << part << "\n" << line;
        for (size_t n = 0; n < c.frame.size(); ++n) {
            test::reset({"json", "calc-checksums"});
            bytes prefix(c.frame.begin(), c.frame.begin() + static_cast<long>(n));
            std::string cut = test::decode_record(decoder, prefix, link);
            EXPECT_TRUE(test::valid_json(cut)) << c.name << " prefix " << n << ": " << cut;
        }
    }
}

}  // namespace

TEST(IpFamiliesJson, Icmpv6) {
    check({
        {"echo request",
         ipf::ipv6(58, hex("80 00 0000 1234 0007 61626364")),
         {"\"icmpv6\":{\"type\":128,\"type_name\":\"Echo request\",\"code\":0,\"checksum\":",
          "\"identifier\":4660,\"seq\":7"}},
        {"unreachable",
         ipf::ipv6(58, hex("01 04 0000 00000000")),
         {"\"type\":1,\"type_name\":\"Dest. unreachable\",\"code\":4,\"code_name\":\"Port unreachable\""}},
        {"packet too big",
         ipf::ipv6(58, hex("02 00 0000 000005dc")),
         {"\"type_name\":\"Packet too big\"", "\"mtu\":1500"}},
        {"parameter problem",
         ipf::ipv6(58, hex("04 09 0000 00000028")),
         {"\"code\":9,\"checksum\":", "\"pointer\":40"}},
        {"query", ipf::ipv6(58, hex("82 00 0000 2710 0000")), {"\"max_response_delay\":10000"}},
    });
    // The summary names the message.
    test::reset({"summary"});
    std::string line = test::decode_record(
        decode_ip_version, ipf::ipv6(58, hex("87 00 0000 00000000 20010db8000000000000000000000002")), 0);
    EXPECT_NE(line.find(" ICMPv6 neighbor solicitation who-has 2001:db8::2"), std::string::npos) << line;
}

TEST(IpFamiliesJson, Igmp) {
    bytes report = hex("16 00 0000 e0000116");
    test::put_be16(report, 2, test::inet_checksum(report));
    bytes v3_report = hex("22 00 0000 0000 0001 04 00 0000 e0000005");
    test::put_be16(v3_report, 2, test::inet_checksum(v3_report));
    check({
        {"v2 report",
         ipf::ipv4(2, report),
         {"\"igmp\":{\"version\":2,\"type\":22,\"type_name\":\"Membership version 2 report\","
          "\"max_response_time\":0,\"checksum\":",
          "\"checksum_ok\":true", "\"group\":\"224.0.1.22\""}},
        {"v0 join",
         ipf::ipv4(2, hex("03 05 0000 0a000001")),
         {"\"version\":0,\"type\":3", "\"code\":5", "\"checksum_ok\":false", "\"group\":\"10.0.0.1\""}},
        // 8 bytes with a response time: version 2 (RFC 2236), whatever
        // the banner's layout.
        {"v2 query", ipf::ipv4(2, hex("11 64 0000 00000000")), {"\"version\":2,\"type\":17", "\"unused\":100"}},
        {"v1 query", ipf::ipv4(2, hex("11 00 0000 00000000")), {"\"version\":1,\"type\":17"}},
        {"v3 query", ipf::ipv4(2, hex("11 0a 0000 00000000 02 7d 0000")), {"\"version\":3,\"type\":17"}},
        // A version 3 report: no group and no response time in its fixed
        // bytes (reserved, and the record count).
        {"v3 report",
         ipf::ipv4(2, v3_report),
         {"\"igmp\":{\"version\":3,\"type\":34,\"type_name\":\"Membership version 3 report\",\"checksum\":",
          "\"checksum_expected\":63992,\"record_count\":1,\"records\":[{\"type\":4"}},
        {"unknown", ipf::ipv4(2, hex("09 00 0000 00000000")), {"\"igmp\":{\"type\":9}"}},
    });
}

TEST(IpFamiliesJson, Ipsec) {
    bytes udp = ipf::udp(hex("6869"));
    check({
        {"ah then udp",
         ipf::ipv4(51, test::concat({hex("11 04 0000 00001000 00000005 0102030405060708090a0b0c"), udp})),
         {"\"ah\":{\"next_header\":17,\"next_header_name\":\"UDP\",\"length\":4,\"spi\":4096,\"seq\":5,"
          "\"authentication_data\":\"0102030405060708090a0b0c\"}",
          "\"udp\":{\"src_port\":40001"}},
        {"esp", ipf::ipv6(50, hex("0000abcd 00000009 ffffffff")), {"\"esp\":{\"spi\":43981,\"seq\":9}"}},
        {"ipcomp",
         ipf::ipv4(108, hex("06 00 0002 ffff")),
         {"\"ipcomp\":{\"next_header\":6,\"next_header_name\":\"TCP\",\"flags\":0,\"cpi\":2,"
          "\"cpi_name\":\"Deflate\"}"}},
    });
}

TEST(IpFamiliesJson, Tunnels) {
    bytes inner = ipf::ipv4(1, ipf::icmp(8, 0, hex("0001 0002")));
    check({
        {"gre ipv4",
         ipf::ipv4(47, test::concat({hex("0000 0800"), inner})),
         {"\"gre\":{\"version\":0,\"checksum_present\":0,\"routing_present\":0,\"key_present\":0,"
          "\"sequence_present\":0,\"strict_source_route\":0,\"recursion_control\":0,\"protocol\":2048,"
          "\"protocol_name\":\"IPv4\"}",
          "\"icmp\":{\"type\":8"}},
        {"gre v1", ipf::ipv4(47, hex("3081 880b 0000 0000")), {"\"version\":1", "\"acknowledgement_present\":128"}},
        {"gre v3", ipf::ipv4(47, hex("0003 0800")), {"\"gre\":{\"version\":3,\"error\":"}},
        {"etherip",
         ipf::ipv4(97, test::concat({hex("0300 0a0000000001 0a0000000002 0800"), inner})),
         {"\"etherip\":{\"version\":3,\"reserved\":0}", "\"ethernet\":{",
          "\"src\":\"192.168.1.10\""}},
    });
}

TEST(IpFamiliesJson, IpxAndSpx) {
    // 802.3 raw: a length in the type field and 0xffff where LLC would be.
    bytes ipx =
        hex("ffff 0028 00 05 00000001 0a0000000001 0451 00000002 0a0000000002 4000"
            "48 fe 0001 0002 0003 0004 0005 0240");
    bytes frame = test::concat({hex("0a0000000001 0a0000000002 0028"), ipx});
    check({
        {"spx",
         frame,
         {"\"ipx\":{\"checksum\":65535,\"length\":40,\"transport_control\":0,\"packet_type\":5,"
          "\"packet_type_name\":\"SPP\",\"dst_net\":1,\"dst_node\":\"0a:00:00:00:00:01\",\"dst_socket\":1105,"
          "\"dst_socket_name\":\"NCP\",\"src_net\":2",
          "\"spx\":{\"connection_control\":72,\"connection_control_name\":[\"SPXv2\",\"ACK\"],"
          "\"datastream_type\":254,\"src_connection_id\":1,\"dst_connection_id\":2,\"seq\":3,\"ack\":4,"
          "\"allocation\":5,\"negotiate_size\":576}"},
         true},
    });
}

TEST(IpFamiliesJson, SctpIpv7AndUnknownVersions) {
    bytes ipv7 = hex("77 00 0040 00000000 0102030405060708 1112131415161718 2122232425262728 0006 beef");
    check({
        {"sctp",
         ipf::ipv4(132, hex("0b59 0b5a 01020304 a1b2c3d4")),
         {"\"sctp\":{\"src_port\":2905,\"dst_port\":2906,\"verification_tag\":16909060,"
          "\"checksum\":2712847316}"}},
        {"ipv7",
         ipv7,
         {"\"ipv7\":{\"version\":7,\"header_length\":7,\"ttl\":64,"
          "\"forward_route_identifier\":\"0102030405060708\",\"dst\":\"1112131415161718\","
          "\"src\":\"2122232425262728\",\"protocol\":6,\"checksum\":48879}"}},
        {"version 5", hex("50000000"), {"\"ip\":{\"version\":5,\"error\":"}},
    });
}
