#include <gtest/gtest.h>

#include "decode/link/ethernet.h"
#include "support.h"

namespace {

const char* ethernet = "020000000002 020000000001";

test::bytes over_ip(bool v6, uint8_t protocol, const char* payload) {
    auto body = test::hex(payload);
    auto ip = v6 ? test::hex("60000000 0000 00 40 fe800000000000000000000000000001 ff020000000000000000000000000009")
                 : test::hex("4500 0000 0001 0000 40 00 0000 0a000001 0a000002");
    test::put_be16(ip, v6 ? 4 : 2, static_cast<uint16_t>((v6 ? 0 : 20) + body.size()));
    ip[v6 ? 6 : 9] = protocol;
    return test::concat({test::hex(ethernet), test::hex(v6 ? "86dd" : "0800"), ip, body});
}

TEST(RoutingDispatch, EveryEntryReachesItsDecoder) {
    const char* any = "10000000 00000000 00000000 00000000 00000000 00000000";
    const char* tcp = "00000001 00000002 5018 2000 0000 0000";
    struct {
        test::bytes frame;
        const char* banner;
    } cases[] = {
        {over_ip(false, 3, any), "GGP"},
        {over_ip(false, 7, any), "CBT"},
        {over_ip(false, 8, any), "EGP"},
        {over_ip(false, 9, any), "IGRP"},
        {over_ip(false, 28, any), "IRTP"},
        {over_ip(false, 46, any), "RSVP"},
        {over_ip(false, 54, any), "NARP"},
        {over_ip(false, 88, any), "EIGRP"},
        {over_ip(false, 89, any), "OSPF"},
        {over_ip(false, 92, any), "MTP bridge"},
        {over_ip(false, 101, any), "IFMP"},
        {over_ip(false, 103, any), "PIM"},
        {over_ip(false, 112, any), "VRRP"},
        {over_ip(false, 113, any), "PGM"},
        {over_ip(true, 8, any), "EGP"},
        {over_ip(true, 103, any), "PIM"},
        {over_ip(false, 17, "9c41 0208 0010 0000 0201 0000 0002 0000"), "RIPv1"},
        {over_ip(false, 17, "0209 0208 000c 0000 0101 0000"), "RIPv1"},
        {over_ip(false, 17, "0209 9c41 000c 0000 0101 0000"), "RIPng"},
        {over_ip(false, 6, (std::string("9c41 00b3 ") + tcp + "ffffffffffffffffffffffffffffffff 0013 04").c_str()),
         "BGP"},
        {over_ip(false, 6, (std::string("027f 9c41 ") + tcp + "04 0003").c_str()), "MSDP"},
        {over_ip(false, 6, (std::string("17b4 9c41 ") + tcp + "03 0a 02 00").c_str()), "GSMP"},
        {test::concat({test::hex(ethernet), test::hex("8847 00003140")}), "MPLS"},
        {test::concat({test::hex(ethernet), test::hex("8848 00003140")}), "MPLS"},
        {test::concat({test::hex(ethernet), test::hex("8137 ffff 0028 00 01 00000001 ffffffffffff 0453 00000001 "
                                                      "020000000001 4003 0001 ffffffff 0010 ffff")}),
         "RIP Header"},
    };
    test::reset();
    for (const auto& c : cases) {
        std::string out = test::decode(decode_ethernet, c.frame, 14);
        EXPECT_NE(out.find("\n- " + std::string(c.banner)), std::string::npos) << c.banner << "\n" << out;
    }
}

}  // namespace
