#include <gtest/gtest.h>

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

struct output_case {
    link_decoder decoder;
    const char* message;
    const char* want;  // a part of the output
};

void expect_outputs(std::initializer_list<const char*> flags, std::initializer_list<output_case> cases) {
    for (const auto& c : cases) {
        test::reset(flags);
        std::string out = test::decode(c.decoder, test::hex(c.message));
        EXPECT_NE(out.find(c.want), std::string::npos) << c.message << "\n" << out;
    }
}

TEST(RoutingDecoders, FieldsThatDependOnOtherFields) {
    expect_outputs(
        {"verbose"},
        {
            {short_form<decode_rip>, "0202 0000 ffff 0002 73336372227420707700097f7e214023",
             "  Authentication type: 2 (simple)\n  Authentication: \"s3cr\"t pw...~!@#\"\n"},
            {short_form<decode_rip>, "0102 00ab ffff 0003 01020304010203040102030401020304", "Authentication type: 3"},
            {full_form<decode_egp>, "0205 0203 0000 fde9 000a", "Type: 5 (Reach)\n  Code: 2 (Unkown)\n  Status: 3\n"},
            {full_form<decode_egp>, "0203 0109 0000 fde9 000a 0000 001e 0078",
             "Code: 1 (Confirm)\n  Status: 9 (Unkown)\n"},
            {full_form<decode_egp>, "0203 0401 0000 fde9 000a 0000 0000 0000",
             "Code: 4 (Cease Ack)\n  Status: 1 (Unknown)\n"},
            {full_form<decode_egp>, "0209 0001 0000 fde9 000a", "Type: 9 (Unknown)\n  Code: 0\n  Status: 1\n"},
            {short_form<decode_narp>, "01 00 0000 03 05 0000 0a000009 0a000008 04", "Type: 3 (unknown)\n  Code: 5\n"},
            {short_form<decode_pim>, "2900 0000", "Type: 9 (Graft-Ack)\n"},
            {short_form<decode_pim>, "3400 0000", "Type: 4\n"},
            {short_form<decode_vrrp>, "21 01 64 00 01 00 1234 7061737300000000", "0x1234\n  Password: \"pass....\"\n"},
            // Over IPv6 the virtual addresses are 16 bytes each.
            {short_form<decode_vrrp_over_ipv6>, "31 35 64 02 00 64 1234 fd000012000000000000000000000100 fe800000000000000000000000000001",
             "Checksum: 0x1234\n  IP Addrs: fd00:12::100 fe80::1 \n"},
            {full_form<decode_eigrp>, "0205 e57b 00000003 00000007 00000006 00000064",
             "Flags: 0x00000003 (Init bit) (Conditional receive bit)\n"},
        });
    test::reset();
    auto out = test::decode(short_form<decode_rip>, test::hex("0102 00ab ffff 0003 01020304010203040102030401020304"));
    EXPECT_EQ(out.find("Authentication:"), std::string::npos);
}

// Codes past the end of a name table print the table's fallback; the IRTP
// length and IFMP checksum read in network order like every other field.
TEST(RoutingDecoders, BoundedNamesAndNetworkOrder) {
    expect_outputs(
        {"verbose"},
        {
            {short_form<decode_rip>, "0c01 0000 0002 0000 0a010000 00000000 00000000 00000001",
             "Command: 12 (Unknown)\n"},
            {short_form<decode_ripng>, "0301 0000", "Command: 3 (Unknown)\n"},
            {short_form<decode_ipx_rip>, "0003 00000001 0001 0002", "Type/Operation: 3 (Unknown)\n"},
            {full_form<decode_igrp>, "1305 0064 0001 0002 0003 f567", "Opcode: 3 (Unknown)\n"},
            {full_form<decode_eigrp>, "0207 e57b 00000000 00000000 00000000 00000064", "Opcode: 7 (Unknown)\n"},
            {short_form<decode_bgp>, "ffffffffffffffffffffffffffffffff 0013 06", "Type: 6 (Unknown)\n"},
            {short_form<decode_msdp>, "06 0003", "Type: 6 (Unknown)\n"},
            {short_form<decode_gsmp>, "03 0a 05 00", "Result: 5 (Unknown)\n"},
            {full_form<decode_cbt>, "1f 04 0012", "Type: 15 (unknown)\n  Address Length: 4, Checksum: 0x12\n"},
            {full_form<decode_irtp>, "05 09 0000 0010 abcd",
             "Type: 5 (unknown)\n  Port: 9, Sequence number: 0\n  Length: 16,"},
            {full_form<decode_rsvp>, "10 ff 0000 01 00 0008", "Message Type: 255 (Unknown)\n"},
            {short_form<decode_narp>, "01 00 0000 01 03 0000 0a000009 0a000008 04", "Code: 3 (unknown)\n"},
            {short_form<decode_mtp>, "0001 0002 001c 0000 01 07 00 03 00000000 00000000", "Type: 7 (unknown)\n"},
            {short_form<decode_ifmp>, "01 09 1234 00000000", "Opcode: 9 (unknown), Checksum: 0x1234\n"},
            {short_form<decode_vrrp>, "22 01 64 00 03 00 0000 0000000000000000", "Type: 2 (unknown)\n"},
            {short_form<decode_vrrp>, "21 01 64 00 03 00 0000 0000000000000000", "Auth. type: 3 (unknown)\n"},
            {short_form<decode_mpls>, "fffff140", "Label: 1048575 (unknown), Experimental: 0\n"},
            {short_form<decode_pim>, "1800 0000", "Type: 8 (unknown)\n"},
            {short_form<decode_pim>, "2a00 0000", "Type: 10 (unknown)\n"},
        });
}

// Every decoder counts once per message, and every prefix of the message
// behind a 4-byte link header stays inside the captured bytes (checked by
// the sanitizer build) and ends a cut header in the truncation marker.
TEST(RoutingDecoders, CountsAndEveryPrefix) {
    struct {
        link_decoder decoder;
        const char* message;
        uint32_t protocol_counters::*counter;
    } cases[] = {
        {short_form<decode_rip>, "0201 0000 0002 0000 0a010000 00000000 00000000 00000001", &protocol_counters::ripv1},
        {short_form<decode_rip>, "0202 0000 0002 0001 c0a80a00 ffffff00 c0a801fe 00000001", &protocol_counters::ripv2},
        {short_form<decode_rip>, "0202 0000 ffff 0002 73336372227420707700097f7e214023", &protocol_counters::ripv2},
        {short_form<decode_ripng>, "0101 0000", &protocol_counters::ripng},
        {short_form<decode_ipx_rip>, "0002 00001234 0001 0002", &protocol_counters::ipx_rip},
        {short_form<decode_ospf>, "0201 0030 c0a80101 00000000 3af1 0000 0000000000000000", &protocol_counters::ospfv2},
        {short_form<decode_ospf>, "0301 0024 01010101 00000001 f48d 05 00", &protocol_counters::ospfv3},
        {full_form<decode_egp>, "0202 0080 3d8b fde9 0008 0000 0000 0000 c0000200", &protocol_counters::egp},
        {full_form<decode_egp>, "0203 0102 fe71 fde9 0009 0000 001e 0078", &protocol_counters::egp},
        {full_form<decode_egp>, "0208 0002 fffb fde9 000b 0000 0005 0000", &protocol_counters::egp},
        {short_form<decode_ggp>, "0900 0102", &protocol_counters::ggp},
        {full_form<decode_igrp>, "1105 0064 0001 0000 0000 f567", &protocol_counters::igrp},
        {full_form<decode_eigrp>, "0205 e57b 00000001 00000000 00000000 00000064", &protocol_counters::eigrp},
        {short_form<decode_bgp>, "ffffffffffffffffffffffffffffffff 0013 04", &protocol_counters::bgp},
        {short_form<decode_msdp>, "01 0014", &protocol_counters::msdp},
        {short_form<decode_gsmp>, "03 0a 02 00", &protocol_counters::gsmp},
        {full_form<decode_cbt>, "10 04 1000", &protocol_counters::cbt},
        {full_form<decode_irtp>, "02 05 03e8 000c 1234 deadbeef", &protocol_counters::irtp},
        {full_form<decode_rsvp>, "10 01 1a2b 3f 00 0014", &protocol_counters::rsvp},
        {short_form<decode_narp>, "01 00 1234 02 03 0000 0a000009 0a000008 04", &protocol_counters::narp},
        {short_form<decode_mtp>, "0001 0002 001c 4d2e 01 05 00 03 01020304 a0b0c0d0", &protocol_counters::mtp},
        {short_form<decode_ifmp>, "01 00 1212 00000001 00000000 c0a80101 00000000 0000 00 0a",
         &protocol_counters::ifmp},
        {short_form<decode_ifmp>, "01 04 0000 00000005 00000006 00000007", &protocol_counters::ifmp},
        {short_form<decode_pim>, "1000 0000 0001 0002 0069", &protocol_counters::pimv1},
        {short_form<decode_pim>, "2000 0000 0001 0002 0069", &protocol_counters::pimv2},
        {short_form<decode_vrrp>, "21 01 64 02 01 00 1234 c0a80101 c0a80102 7061737300000000",
         &protocol_counters::vrrp},
        {short_form<decode_vrrp_over_ipv6>, "31 35 64 01 01 2c 1234 fd000012000000000000000000000100 7061737300000000",
         &protocol_counters::vrrp},
        {short_form<decode_pgm>, "1d4c 1d4d 04 00 abcd 0102030405fe 0064", &protocol_counters::pgm},
        {short_form<decode_mpls>, "00003140", &protocol_counters::mpls},
    };
    for (const auto& c : cases) {
        auto frame = test::concat({test::hex("00000000"), test::hex(c.message)});
        test::reset({"statistic"});
        test::decode(c.decoder, frame, 4);
        EXPECT_EQ(counters.*c.counter, 1u) << c.message;
        test::reset({"verbose", "calc-checksums"});
        EXPECT_GT(test::decode_all_prefixes(c.decoder, frame, 4), 0) << c.message;
    }
}

}  // namespace
