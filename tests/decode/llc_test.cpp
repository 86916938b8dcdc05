#include "decode/link/llc.h"

#include <gtest/gtest.h>

#include "decode/decoder.h"
#include "decode/link/ethernet.h"
#include "support.h"

namespace {

// An 802.3 frame carrying the LLC bytes, decoded as the pcap source does.
test::bytes ieee8023(const std::string& llc) {
    auto body = test::hex(llc);
    auto frame = test::concat({test::hex("ffffffffffff 020000000001 0000"), body});
    test::put_be16(frame, 12, static_cast<uint16_t>(body.size()));
    return frame;
}
std::string decode_llc_frame(const std::string& llc) { return test::decode(decode_ethernet, ieee8023(llc), 14); }

const std::string banner = "\n- Ethernet Header -\n- LLC Header -";
const std::string snap_saps =
    "\n  DSAP: 0xaa (SNAP), IG Bit: 0 (Individual)\n  SSAP: 0xaa (SNAP), CR-Bit: 0 (Command), U-Bit: 1 (IEEE)\n  "
    "Control: 0x03 (Unnumbered frame)";

TEST(Llc, SapBitsAndFrameKinds) {
    struct {
        const char* llc;
        std::string want;
    } cases[] = {
        {"424203 00",
         "DSAP: 0x42 (unknown), IG Bit: 0 (Individual)\n  SSAP: 0x42 (unknown), CR-Bit: 0 (Command), "
         "U-Bit: 1 (IEEE)\n  Control: 0x03 (Unnumbered frame)"},
        // A SNAP DSAP with a response SSAP is not SNAP.
        {"aaab00",
         "DSAP: 0xaa (SNAP), IG Bit: 0 (Individual)\n  SSAP: 0xab (unknown), CR-Bit: 1 (Response), U-Bit: "
         "1 (IEEE)\n  Control: 0x00 (I frame)"},
        // The test exchange: the poll and its reply.
        {"8889f3",
         "DSAP: 0x88 (unknown), IG Bit: 0 (Individual)\n  SSAP: 0x89 (unknown), CR-Bit: 1 (Response), "
         "U-Bit: 0 (User)\n  Control: 0xf3 (Unnumbered frame) (LLCPing, Final)"},
    };
    for (const auto& c : cases) {
        test::reset({"expand-llc", "verbose", "statistic"});
        EXPECT_EQ(decode_llc_frame(c.llc), banner + "\n  " + c.want + "\n") << c.llc;
        EXPECT_EQ(counters.ieee8023, 1u);
    }
    test::reset({"expand-llc"});
    EXPECT_EQ(decode_llc_frame("abab01"),
              banner + "\n  DSAP: 0xab, IG Bit: 1\n  SSAP: 0xab, CR-Bit: 1, U-Bit: 1\n  Control: 0x01\n");
}

TEST(Llc, SnapNamesAndDispatch) {
    struct {
        const char* llc;
        std::string want;
    } cases[] = {
        {"aaaa03 0080c2 0007 00", "\n  OUI: 0x0080c2 (Bridged ethernet)\n  Type: 0x0007 (unknown)\n"},
        {"aaaa03 00000c 2004 00", "\n  OUI: 0x00000c (Cisco protocols)\n  Type: 0x2004"},
        {"aaaa03 000000 0806 0001 0800 0604 0001",
         "\n  OUI: 0x000000 (Encapsulated ethernet)\n  Type: 0x0806 (ARP)\n- ARP Header -\n"},
    };
    for (const auto& c : cases) {
        test::reset({"expand-llc", "verbose", "statistic"});
        EXPECT_EQ(decode_llc_frame(c.llc), banner + snap_saps + c.want) << c.llc;
        EXPECT_EQ(counters.ieee8023_snap, 1u);
        EXPECT_EQ(counters.ieee8023, 0u);
    }
}

TEST(Llc, CollapsedHeaderStillDispatchesAndCounts) {
    test::reset({"statistic"});
    EXPECT_EQ(decode_llc_frame("aaaa03 000000 0806 0001 0800 0000 0002"), banner + "\n- ARP Header -\n");
    // Novell 802.2 carries IPX and still counts as plain 802.3.
    auto out = decode_llc_frame("e0e003 ffff 001e 00 04 00000001 ffffffffffff 0452 00000001 020000000001 4000");
    EXPECT_EQ(out.rfind(banner + "\n- IPX Header -", 0), 0u) << out;
    EXPECT_EQ(out.substr(out.size() - 2), "\n\n");
    EXPECT_EQ(counters.ieee8023_snap, 1u);
    EXPECT_EQ(counters.arp, 1u);
    EXPECT_EQ(counters.ipx, 1u);
    EXPECT_EQ(counters.ieee8023, 1u);
}

TEST(Llc, EveryPrefixStaysInsideTheFrame) {
    test::reset({"expand-all", "verbose", "statistic"});
    for (const char* llc : {"424203 00", "aaaa03 000000 0806 0001 0800 0604 0001", "aaaa03 00000c 2000 0102",
                            "e0e003 ffff 001e 00 05 00000001 ffffffffffff 0452 00000001 020000000001 4000 48"})
        test::decode_all_prefixes(decode_ethernet, ieee8023(llc), 14);
}

}  // namespace
