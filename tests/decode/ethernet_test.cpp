#include "decode/link/ethernet.h"

#include <gtest/gtest.h>

#include "decode/decoder.h"
#include "support.h"

namespace {

const char* cisco_vendor = " (Vendor: Cisco                         )";

TEST(Ethernet, ExpandedVerboseHeader) {
    test::reset({"expand-ethernet", "verbose"});
    // Unknown EtherType 0x1234 ends the frame's decoding with "\n".
    auto frame = test::hex("00000c123456 020000000001 1234 00");
    EXPECT_EQ(test::decode(decode_ethernet, frame),
              std::string("\n- Ethernet Header -\n  MAC Dst: 00:00:0c:12:34:56") + cisco_vendor +
                  "\n  MAC Src: 02:00:00:00:00:01 (Vendor: Unknown)\n  Type(Ethernet II): 0x1234 (unknown type)\n");
}

TEST(Ethernet, AddressTypesAndCollapsedView) {
    struct {
        const char* frame;
        std::initializer_list<const char*> flags;
        std::string want;
    } cases[] = {
        {"ffffffffffff 000000000000 9000",
         {"expand-all", "verbose"},
         "\n- Ethernet Header -\n  MAC Dst: ff:ff:ff:ff:ff:ff (Type: Broadcast)\n  MAC Src: 00:00:00:00:00:00 (Type: "
         "Nothing set)\n  Type(Ethernet II): 0x9000 (Ethernet Loopback)\n"},
        {"ffffffffffff 000000000000 9000", {"verbose"}, "\n- Ethernet Header -\n"},
        {"ffffffffffff 000000000000 05dd",
         {"expand-ethernet"},
         "\n- Ethernet Header -\n  MAC Dst: ff:ff:ff:ff:ff:ff\n  MAC Src: 00:00:00:00:00:00\n  Type(Ethernet II): "
         "0x05dd\n"},
    };
    for (const auto& c : cases) {
        test::reset(c.flags);
        EXPECT_EQ(test::decode(decode_ethernet, test::hex(c.frame)), c.want) << c.frame;
    }
}

TEST(Ethernet, ShortFramesCountAndStop) {
    test::reset({"statistic", "expand-all"});
    EXPECT_EQ(test::decode(decode_ethernet, test::hex("ffffffffffff02000000000108")),
              "\n- Ethernet Header -\nError: Captured data length(13 bytes) < Ethernet packet header length.\n");
    EXPECT_EQ(counters.ethernet_ii_short, 1u);
    EXPECT_EQ(counters.ethernet_ii, 0u);
}

TEST(Ethernet, VlanTagFieldsAndCounters) {
    test::reset({"statistic", "expand-ethernet", "verbose"});
    // Priority 5, CFI set, VLAN 100, inner type 0x1234.
    auto frame = test::hex("ffffffffffff 020000000001 8100 b064 1234 0000");
    EXPECT_EQ(test::decode(decode_ethernet, frame),
              "\n- Ethernet Header -\n  MAC Dst: ff:ff:ff:ff:ff:ff (Type: Broadcast)\n  MAC Src: 02:00:00:00:00:01 "
              "(Vendor: Unknown)\n  TPID: 0x8100\n  Priority: 5, TR/CFI: 4096\n  VLAN-ID: 100\n  Type: 0x1234 (unknown "
              "type)\n");
    EXPECT_EQ(counters.vlan, 1u);
    EXPECT_EQ(counters.ethernet_ii, 0u);
}

TEST(Ethernet, NothingCountedWithoutStatistic) {
    test::reset();
    test::decode(decode_ethernet, test::hex("ffffffffffff 020000000001 1234"));
    test::decode(decode_ethernet, test::hex("ffffffffffff 0200"));
    EXPECT_EQ(counters.ethernet_ii, 0u);
    EXPECT_EQ(counters.ethernet_ii_short, 0u);
}

TEST(Ethernet, EveryPrefixStaysInsideTheFrame) {
    test::reset({"expand-all", "verbose", "statistic"});
    const char* frames[] = {
        "ffffffffffff 020000000001 8100 b064 1234 0000",
        "ffffffffffff 020000000001 8100 b064 0040 aaaa 03 000000 0800",
        "ffffffffffff 020000000001 0040 ffff 0040 0000",
    };
    for (const char* f : frames) test::decode_all_prefixes(decode_ethernet, test::hex(f));
}

}  // namespace
