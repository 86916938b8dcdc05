// The routing decoders through the structured writers: keys, names and
// values in JSON, the message type on the summary line, and valid JSON for
// every prefix of every message.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode/routing/bgp.h"
#include "decode/routing/cbt.h"
#include "decode/routing/egp.h"
#include "decode/routing/ggp.h"
#include "decode/routing/gsmp.h"
#include "decode/routing/ifmp.h"
#include "decode/routing/igrp.h"
#include "decode/routing/irtp.h"
#include "decode/routing/mpls.h"
#include "decode/routing/msdp.h"
#include "decode/routing/mtp.h"
#include "decode/routing/narp.h"
#include "decode/routing/ospf.h"
#include "decode/routing/pgm.h"
#include "decode/routing/pim.h"
#include "decode/routing/rip.h"
#include "decode/routing/rsvp.h"
#include "decode/routing/vrrp.h"
#include "routing_harness.h"
#include "support.h"

namespace {

using routing_test::full_form;
using routing_test::short_form;

struct json_case {
    link_decoder decoder;
    const char* message;
    std::vector<const char*> parts;  // each must appear in the JSON line
    const char* summary;             // the end of the summary line's facts
};

// Fixes the Internet checksum at `at` over the whole message.
test::bytes with_checksum(const char* message, size_t at) {
    test::bytes b = test::hex(message);
    test::put_be16(b, at, test::inet_checksum(b));
    return b;
}

std::vector<json_case> cases() {
    return {
        {short_form<decode_bgp>,
         "ffffffffffffffffffffffffffffffff 0013 04",
         {"\"bgp\":{\"marker\":\"ffffffffffffffffffffffffffffffff\",\"length\":19,\"type\":4,"
          "\"type_name\":\"Keep-alive\"}"},
         "BGP Keep-alive"},
        {short_form<decode_ospf>,
         "0201 002c c0a80001 00000000 0000 0000 0000000000000000 ffffff00 000a 02 01 00000028 00000000 00000000",
         {"\"ospf\":{\"version\":2,\"type\":1,\"type_name\":\"Hello\",\"length\":44,"
          "\"router_id\":\"192.168.0.1\",\"area_id\":\"0.0.0.0\",\"checksum\":0,\"auth_type\":0,"
          "\"auth_type_name\":\"None\",\"netmask\":\"255.255.255.0\",\"hello_interval\":10,\"options\":2,"
          "\"priority\":1,\"dead_interval\":40,\"dr\":\"0.0.0.0\",\"bdr\":\"0.0.0.0\"}"},
         "OSPF Hello, 0 neighbors"},
        {short_form<decode_ospfv3>,
         "0301 0024 01010101 00000001 f48d 05 00",
         {"\"version\":3,\"type\":1,\"type_name\":\"Hello\"",
          "\"area_id\":\"0.0.0.1\",\"checksum\":62605,"
          "\"instance_id\":5,"},
         "OSPF Hello"},
        {short_form<decode_rip>,
         "0202 0000 0002 0007 0a010000 ffffff00 0a0000fe 00000001",
         {"\"rip\":{\"type\":2,\"type_name\":\"Response\",\"version\":2,\"routing_domain\":0,"
          "\"address_family\":2,\"address_family_name\":\"IP\",\"route_tag\":7,\"address\":\"10.1.0.0\","
          "\"mask\":\"255.255.255.0\",\"next_hop\":\"10.0.0.254\",\"metric\":1}"},
         "RIP Response"},
        {short_form<decode_rip>,
         "0101 0000 0002 0000 0a010000 00000000 00000000 00000003",
         {"\"type\":1,\"type_name\":\"Request\",\"version\":1,", "\"address\":\"10.1.0.0\",\"metric\":3}"},
         "RIP Request"},
        {short_form<decode_rip>,
         "0202 0000 ffff 0002 7365637265740000 0000000000000000",
         {"\"unused\":0,\"auth_type\":2,\"auth_type_name\":\"simple\",\"password\":\"secret\\u0000"},
         "RIP Response"},
        {short_form<decode_rip>, "0200", {"\"rip\":{\"version\":0}"}, "RIP"},
        {short_form<decode_ripng>,
         "0201",
         {"\"ripng\":{\"type\":2,\"type_name\":\"Response\",\"version\":1}"},
         "RIPng Response"},
        {short_form<decode_ipx_rip>,
         "0002 00001234 0001 0002",
         {"\"ipx_rip\":{\"type\":2,\"type_name\":\"Response\",\"network\":4660,\"hops\":1,\"ticks\":2}"},
         "IPX-RIP Response"},
        {short_form<decode_vrrp>,
         "21 07 64 02 01 00 1234 c0a80101 c0a80102 7061737300000000",
         {"\"vrrp\":{\"version\":2,\"type\":1,\"type_name\":\"Advertisement\",\"virtual_router_id\":7,"
          "\"priority\":100,\"address_count\":2,\"auth_type\":1,\"auth_type_name\":\"Simple text password\","
          "\"advert_interval\":0,\"checksum\":4660,\"addresses\":[\"192.168.1.1\",\"192.168.1.2\"],\"password\":\"pass\\u0000"},
         "VRRP Advertisement"},
        // Version 3: bytes 4 and 5 are the maximum advertisement interval
        // (centiseconds), not an authentication type and a password.
        {short_form<decode_vrrp>,
         "31 34 78 02 01 2c 1234 0a000c65 0a000c66",
         {"\"address_count\":2,\"max_advert_interval_cs\":300,\"checksum\":4660,"
          "\"addresses\":[\"10.0.12.101\",\"10.0.12.102\"]}"},
         "VRRP Advertisement"},
        {short_form<decode_vrrp_over_ipv6>,
         "31 35 64 01 00 64 1234 fd000012000000000000000000000100",
         {"\"max_advert_interval_cs\":100,\"checksum\":4660,\"addresses\":[\"fd00:12::100\"]}"},
         "VRRP Advertisement"},
        {full_form<decode_eigrp>,
         "0205 e57b 00000003 00000007 00000006 00000064",
         {"\"version\":2,\"type\":5,\"type_name\":\"Hello\"", "\"flags\":3,",
          "\"flags_name\":[\"Init bit\",\"Conditional receive bit\"]", "\"seq\":7,\"ack\":6,\"autonomous_system\":100"},
         "EIGRP Hello"},
        {full_form<decode_igrp>,
         "1105 0064 0001 0002 0003 0000",
         {"\"igrp\":{\"version\":1,\"type\":1,\"type_name\":\"Update\",\"edition\":5,"
          "\"autonomous_system\":100,\"interior_routes\":1,\"system_routes\":2,\"exterior_routes\":3"},
         "IGRP Update"},
        {full_form<decode_egp>,
         "0205 0001 0000 fde9 000a",
         {"\"version\":2,\"type\":5,\"type_name\":\"Reach\",\"code\":0,\"code_name\":\"Hello\",\"status\":1,"
          "\"status_name\":\"Up\"",
          "\"autonomous_system\":65001,\"seq\":10}"},
         "EGP Reach, Hello"},
        {full_form<decode_egp>,
         "0202 0080 0000 fde9 0008 0000 0000 0000 c0000200",
         {"\"status\":128,\"status_name\":\"Unsolicited\"", "\"reserved\":0,\"source_network\":\"192.0.2.0\"}"},
         "EGP Poll"},
        {short_form<decode_ggp>,
         "0800 0102",
         {"\"ggp\":{\"type\":8,\"type_name\":\"Echo request\",\"unused\":0,"
          "\"seq\":258}"},
         "GGP Echo request"},
        {short_form<decode_msdp>,
         "04 0003",
         {"\"msdp\":{\"type\":4,\"type_name\":\"Keepalive\",\"length\":3}"},
         "MSDP Keepalive"},
        {short_form<decode_gsmp>,
         "03 10 03 07",
         {"\"gsmp\":{\"version\":3,\"type\":16,\"result\":3,\"result_name\":\"Success\",\"code\":7}"},
         "GSMP type 16"},
        {full_form<decode_cbt>,
         "12 04 1000",
         {"\"cbt\":{\"version\":1,\"type\":2,\"type_name\":\"Join ack\",\"address_length\":4,"
          "\"checksum\":4096}"},
         "CBT Join ack"},
        {full_form<decode_irtp>,
         "02 05 03e8 000c 1234 deadbeef",
         {"\"irtp\":{\"type\":2,\"type_name\":\"Data\",\"port\":5,\"seq\":1000,\"length\":12,"
          "\"checksum\":4660}"},
         "IRTP Data"},
        {full_form<decode_rsvp>,
         "10 01 1a2b 3f 00 0014",
         {"\"rsvp\":{\"version\":1,\"flags\":0,\"type\":1,\"type_name\":\"Path\",\"checksum\":6699,"
          "\"send_ttl\":63,\"reserved\":0,\"length\":20}"},
         "RSVP Path"},
        {short_form<decode_narp>,
         "01 02 1234 02 03 0000 0a000009 0a000008 04",
         {"\"hop_count\":2,\"checksum\":4660,\"type\":2,\"type_name\":\"Reply\",\"code\":3,"
          "\"code_name\":\"Negative non-authoritative "
          "reply\",\"src\":\"10.0.0.8\",\"dst\":\"10.0.0.9\",\"length\":4}"},
         "NARP Reply, Negative non-authoritative reply"},
        {short_form<decode_mtp>,
         "0001 0002 001c 4d2e 01 03 00 05 01020304 a0b0c0d0",
         {"\"mtp_bridge\":{\"dst_port\":1,\"src_port\":2,\"length\":28,\"checksum\":19758}",
          "\"mtp\":{\"version\":1,\"type\":3,\"type_name\":\"Join\",\"type_modifier\":0,"
          "\"subchannel\":5,"
          "\"src_connection_id\":16909060,\"dst_connection_id\":2695938256}"},
         "MTP Join"},
        {short_form<decode_ifmp>,
         "01 00 1212 00000001 00000002 c0a80101 00000009 0000 00 0a",
         {"\"type\":0,\"type_name\":\"Syn\",\"checksum\":4626,\"sender_instance\":1,\"peer_instance\":2,"
          "\"peer_identity\":3232235777,\"peer_next_seq\":9,\"reserved1\":0,\"reserved2\":0,\"max_ack_"
          "interval\":10}"},
         "IFMP Syn"},
        {short_form<decode_ifmp>,
         "01 04 0000 00000005 00000006 00000007",
         {"\"type\":4,\"type_name\":\"Redirect\",", "\"peer_instance\":6,\"seq\":7}"},
         "IFMP Redirect"},
        {short_form<decode_pim>,
         "3400 0000",
         {"\"pim\":{\"version\":3,\"type\":4,\"reserved\":0,"
          "\"checksum\":0}"},
         "PIM type 4"},
        {short_form<decode_pgm>,
         "1d4c 1d4d 00 00 abcd 0102030405fe 0064",
         {"\"pgm\":{\"src_port\":7500,\"dst_port\":7501,\"type\":0,\"type_name\":\"SPM\",\"options\":"
          "0,"
          "\"checksum\":43981,\"global_source_id\":\"0102030405fe\",\"tsdu_length\":100}"},
         "PGM SPM"},
        {short_form<decode_mpls>,
         "00003140",
         {"\"mpls\":{\"labels\":[{\"label\":3,\"label_name\":\"Implicit NULL\",\"traffic_class\":0,"
          "\"bottom_of_stack\":1,\"ttl\":64}]}"},
         "MPLS labels 3"},
    };
}

TEST(RoutingJson, KeysNamesAndSummaries) {
    for (const json_case& c : cases()) {
        test::bytes message = test::hex(c.message);
        test::reset({"json"});
        std::string line = test::decode_record(c.decoder, message);
        EXPECT_TRUE(test::valid_json(line)) << line;
        for (const char* part : c.parts) EXPECT_NE(line.find(part), std::string::npos) << part << "\n" << line;
        test::reset({"summary"});
        line = test::decode_record(c.decoder, message);
        std::string want = std::string(" ") + c.summary + " (";
        EXPECT_NE(line.find(want), std::string::npos) << want << "\n" << line;
    }
}

// Verdicts are recorded as checksum_ok / checksum_expected, and a bad one
// still counts.
TEST(RoutingJson, ChecksumVerdicts) {
    struct {
        link_decoder decoder;
        test::bytes message;
        const char* want;
    } checks[] = {
        {full_form<decode_egp>, with_checksum("0205 0001 0000 fde9 000a", 4), "\"checksum_ok\":true"},
        {full_form<decode_igrp>, with_checksum("1105 0064 0001 0002 0003 0000", 10), "\"checksum_ok\":true"},
        {short_form<decode_pim>, with_checksum("2000 0000 0001 0002 0069", 2), "\"checksum_ok\":true"},
        {full_form<decode_eigrp>, test::hex("0205 0000 00000000 00000000 00000000 00000064"),
         "\"checksum\":0,\"checksum_ok\":false,\"checksum_expected\":"},
    };
    for (const auto& c : checks) {
        test::reset({"json", "calc-checksums", "statistic"});
        std::string line = test::decode_record(c.decoder, c.message);
        EXPECT_NE(line.find(c.want), std::string::npos) << c.want << "\n" << line;
    }
    EXPECT_EQ(counters.eigrp_bad, 1u);
}

TEST(RoutingJson, EveryPrefixGivesValidJson) {
    for (const json_case& c : cases()) {
        test::bytes message = test::hex(c.message);
        for (size_t n = 0; n <= message.size(); ++n) {
            test::bytes part(message.begin(), message.begin() + static_cast<long>(n));
            for (const char* mode : {"json", "summary"}) {
                test::reset({mode, "calc-checksums"});
                std::string line = test::decode_record(c.decoder, part);
                if (std::string(mode) == "json") {
                    EXPECT_TRUE(test::valid_json(line)) << c.message << " " << n << ": " << line;
                }
                EXPECT_EQ(line.find('\n'), line.size() - 1) << line;
            }
        }
    }
}

}  // namespace
