#include "decode/ip/ipsec.h"

#include <gtest/gtest.h>

#include "decode/context.h"
#include "decode/decoder.h"
#include "decode/ip/ipv6.h"
#include "ip_frames.h"
#include "pipeline/frame_loop.h"

namespace {

// The context the test helpers decode in.
decode_context& cx = frame_loop_main_context();

using test::bytes;

int esp_behind_link(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    return decode_esp(cx, frame, offset);
}
int ipcomp_behind_link(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    return decode_ipcomp(cx, frame, offset);
}

const std::string ah_banner = "- IP Authentication Header -\n  Next header: 50\n";
const std::string esp_lines = "- IP ESP Header -\n  SPI: 0x80000001\n  Seq.: 0xfffffffe\n";

TEST(Ah, AuthenticationDataAndWhereItHandsOn) {
    // An ESP header (SPI 0x80000001) behind AH shows where the hand-on lands.
    struct {
        const char* packet;
        const char* want;
    } cases[] = {
        {"32 05 0000 deadbeef 01020304 101112131415161718191a1b 1c1d1e1f 80000001 fffffffe",
         "  Length: 5, SPI: 0xdeadbeef\n  Seq.: 0x01020304\n  Authentication data:\n  0x0001: 10 11 12 13 14 15 16 17 "
         "18 19 1a 1b\n  0x0002: 1c 1d 1e 1f\n"},
        {"32 01 0000 00000100 ffffffff 80000001 fffffffe",
         "  Length: 1, SPI: 0x00000100\n  Seq.: 0xffffffff\n  Authentication data:"},
        // Length 0 claims an 8-byte header, shorter than its fixed fields:
        // no data is shown and the hand-on lands 8 bytes on.
        {"32 00 0000 00000100 80000001 fffffffe",
         "  Length: 0, SPI: 0x00000100\n  Seq.: 0x80000001\n  Authentication data:"},
    };
    for (const auto& c : cases) {
        test::reset({"statistic", "calc-checksums"});
        bytes packet = test::hex(c.packet);
        EXPECT_EQ(test::decode(decode_ah, packet), ah_banner + c.want + esp_lines) << c.packet;
        EXPECT_EQ(counters.ip_auth, 1u);
        EXPECT_EQ(counters.ip_esp, 1u);
        EXPECT_GT(test::decode_all_prefixes(decode_ah, packet), 0);
    }
}

TEST(Ah, BehindIpv6HandsOnThroughTheIpProtocolTable) {
    test::reset({"statistic"});
    // IGMP is no IPv6 next header, but AH hands on by the IP protocol table.
    bytes packet = ipf::ipv6(51, test::hex("02 01 0000 00000001 00000002 16 00 f8fa ef010203"));
    EXPECT_EQ(ipf::slice(test::decode(decode_ipv6, packet), "  Authentication data:", "\n"),
              "  Authentication data:- IGMPv2 Header -");
    EXPECT_EQ(counters.igmpv2, 1u);
    EXPECT_GT(test::decode_all_prefixes(decode_ipv6, packet), 0);
}

TEST(EspAndIpComp, VerboseNames) {
    test::reset({"verbose", "statistic"});
    EXPECT_EQ(test::decode(esp_behind_link, test::hex("80000001 fffffffe")),
              "- IP ESP Header -\n  Security Parameter Index: 0x80000001\n  Seq.: 0xfffffffe\n");
    const char* banner = "- IPComp(IP Payload Compression Protocol) Header -\n";
    EXPECT_EQ(test::decode(ipcomp_behind_link, test::hex("11 01 0002")),
              std::string(banner) + "  Next header: 17 (UDP)\n  Flags: 0x01, CPI: 0x0002 (Deflate)\n");
    EXPECT_EQ(test::decode(ipcomp_behind_link, test::hex("fd 00 0004")),
              std::string(banner) + "  Next header: 253 (unknown)\n  Flags: 0x00, CPI: 0x0004 (unknown)\n");
    EXPECT_EQ(counters.ip_esp, 1u);
    EXPECT_EQ(counters.ipcomp, 2u);
    EXPECT_GT(test::decode_all_prefixes(esp_behind_link, test::hex("80000001 fffffffe")), 0);
    EXPECT_GT(test::decode_all_prefixes(ipcomp_behind_link, test::hex("11 01 0002")), 0);
}

}  // namespace
