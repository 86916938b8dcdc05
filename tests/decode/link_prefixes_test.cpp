// Every prefix of representative frames of the PPP, PPPoE, SLIP, cooked,
// 802.11, Prism, ATM, MOP and Cisco decoders stays inside the captured
// bytes (run in the sanitizer build to catch a stray read).
#include <gtest/gtest.h>

#include "decode/decoder.h"
#include "decode/link/atm.h"
#include "decode/link/cisco.h"
#include "decode/link/ethernet.h"
#include "decode/link/ieee80211.h"
#include "decode/link/linux_cooked.h"
#include "decode/link/ppp.h"
#include "decode/link/pppoe.h"
#include "decode/link/slip.h"
#include "support.h"

namespace {

using test::bytes;
using test::hex;

const char* const ipv4_udp = "45000020 00010000 4011e7cb 0a000001 0a000002 3039 270f 000c 0000 61626364";

bytes ethernet(const char* type, const std::string& payload) {
    return hex(std::string("020000000001 020000000002") + type + payload);
}

struct sample {
    const char* name;
    link_decoder decoder;
    bytes frame;
    unsigned link_header_length;
};

TEST(LinkPrefixes, EveryPrefixStaysInsideTheFrame) {
    std::string control_packets[] = {
        "c021 0d01 0010 0a0b0c0d 0000003c 6279 65 00",
        "c021 0101 000a 0104 05dc 0506",
        "8021 0101 000a 0306 0a000001",
        "8029 0101 0010 0108 00000102 00000001 0100",
        "8029 0101 0010 060a 00000011 00000000 0102",
        "8057 0101 000e 010a 021122fffe334455",
        "802b 0101 0008 0104 0000",
        "8053 0101 0006 0102",
        "80fd 0101 000a 1206 01000001",
        "c023 0102 000d 03 616d79 03 707721",
        "c023 0201 0008 03 6f6b21",
        "c223 0109 000c 04 00ff4142 6e6d 61",
        "c223 0309 0007 4f4b21",
        "c025 01020304 00000001 00000002 00000003 00000004 00000005 00000006 00000007 00000008 "
        "00000009 0000000a 0000000b 0000000c 0000000d 0000000e 0000000f 00000010",
    };
    std::vector<sample> samples = {
        {"PPP link", decode_ppp_link, hex(std::string("ff03 0021") + ipv4_udp), 4},
        {"PPP link, compressed", decode_ppp_link,
         hex(std::string("0057") + "60000000 0000 3b 40" + std::string(64, '1')), 4},
        {"PPPoE discovery", decode_ethernet,
         ethernet("8863", "1109 0000 0020 0101 0000 0102 0006 61630a646566 0103 0006 010203040506 0000 0000"), 14},
        {"PPPoE session", decode_ethernet, ethernet("8864", std::string("1100 1a2b 0022 0021") + ipv4_udp), 14},
        {"PPP in Ethernet", decode_ethernet, ethernet("880b", "004b 4242 03"), 14},
        {"SLIP", decode_slip, hex(std::string(32, '0') + "c0 45000014 00000000 40c00000 0a000001 0a000002"), 16},
        {"Linux cooked", decode_linux_cooked, hex(std::string("0000 0001 0006 020000000002 0000 0800") + ipv4_udp), 0},
        {"802.11 beacon", decode_ieee80211,
         hex("80000000 ffffffffffff 02aabbccddee 02aabbccddee 204d 0504030201000000 6400 1104"), 0},
        {"802.11 data", decode_ieee80211,
         hex("08032c00 021111111111 022222222222 023333333333 5006 024444444444 aaaa03 000000 6001 08190102"), 0},
        {"802.11 control", decode_ieee80211, hex("a4000500 021111111111 022222222222 a1b2c3d4"), 0},
        {"802.11 rts", decode_ieee80211, hex("b4000500 021111111111 022222222222 a1b2c3d4"), 0},
        {"802.11 cf-end", decode_ieee80211, hex("e4000500 021111111111 022222222222 a1b2c3d4"), 0},
        {"Prism", decode_prism, test::concat({bytes(144, 0x41), hex("d4000000 021111111111 a1b2c3d4")}), 144},
        {"ATM RFC 1483", decode_atm_rfc1483, hex(std::string("aaaa03 000000 0800") + ipv4_udp), 0},
        {"ATM CLIP", decode_atm_clip, hex("aaaa03 000000 6001 14 03 09 001000ff"), 0},
        {"MOP", decode_ethernet, ethernet("6001", "02 05 00201aff"), 14},
        {"CDP", decode_ethernet,
         hex("01000ccccccc 00000c123456 0033 aaaa03 00000c 2000 02b4b1e2 0001 0006 5231 0004 0008 00000029 "
             "0007 000e 0a00000008 c0a8010018 000a 0006 0064 000b 0005 01"),
         14},
        {"CGMP", decode_ethernet,
         hex("01000ccccccc 00000c123456 0018 aaaa03 00000c 2001 12030401 01005e000001 "
             "00000c0a0b0c"),
         14},
        {"VTP", decode_ethernet, hex("01000ccccccc 00000c123456 000a aaaa03 00000c 2003 0102"), 14},
        {"Cisco HDLC", decode_cisco_hdlc, hex(std::string("0f00 0800") + ipv4_udp), 4},
        {"BOFL", decode_ethernet, ethernet("8102", "deadbeef 80000001"), 14},
    };
    for (const auto& packet : control_packets) samples.push_back({"PPP control", decode_ppp, hex(packet), 0});

    for (const auto& s : samples) {
        for (const char* flags : {"", "verbose"}) {
            test::reset({"expand-all", "statistic", "print-pppoe-hex"});
            settings.verbose = *flags != 0;
            EXPECT_GT(test::decode_all_prefixes(s.decoder, s.frame, s.link_header_length), 0) << s.name;
        }
    }
}

}  // namespace
