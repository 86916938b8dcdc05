#include "decode/link/token_ring.h"

#include <gtest/gtest.h>

#include "decode/decoder.h"
#include "support.h"

namespace {

constexpr unsigned tr_header = 14;
const std::string banner = "\n- TokenRing Header -";
const std::string cisco = " (Vendor: Cisco                         )";

TEST(TokenRing, ExpandedLlcFrame) {
    test::reset({"expand-token", "verbose", "statistic"});
    auto frame = test::hex("10 40 ffffffffffff 00000c010203 424203");
    EXPECT_EQ(test::decode(decode_token_ring, frame, tr_header),
              banner +
                  "\n  Access Control: 0x10\n  Priority: 0, Token: True\n  Monitor: False, Reservation: 0\n  Frame "
                  "Control: 0x40\n  Type: 1 (LLC), PCF: 0 (Normal buffer)\n  MAC Dst: ff:ff:ff:ff:ff:ff (Type: "
                  "Broadcast)\n  MAC Src: 00:00:0c:01:02:03" +
                  cisco + "\n  Src Routed: False\n- LLC Header -\n\n");
    EXPECT_EQ(counters.token_ring, 1u);
    EXPECT_EQ(counters.ieee8023, 1u);
}

TEST(TokenRing, AccessAndFrameControlFields) {
    struct {
        const char* ac_fc;
        std::string want;
    } cases[] = {
        {"6d 05",
         "\n  Access Control: 0x6d\n  Priority: 96, Token: False\n  Monitor: True, Reservation: 5\n  Frame "
         "Control: 0x05\n  Type: 0 (MAC), PCF: 5 (Active monitor present)"},
        {"00 cf",
         "\n  Access Control: 0x00\n  Priority: 0, Token: False\n  Monitor: False, Reservation: 0\n  Frame "
         "Control: 0xcf\n  Type: 3 (unknown), PCF: 15 (unknown)"},
    };
    for (const auto& c : cases) {
        test::reset({"expand-all", "verbose"});
        auto frame = test::concat({test::hex(c.ac_fc), test::hex("020000000001 020000000002 424203")});
        EXPECT_EQ(test::decode(decode_token_ring, frame, tr_header),
                  banner + c.want +
                      "\n  MAC Dst: 02:00:00:00:00:01 (Vendor: Unknown)\n  MAC Src: 02:00:00:00:00:02 (Vendor: "
                      "Unknown)\n  Src Routed: False\n")
            << c.ac_fc;
    }
}

TEST(TokenRing, SourceRoutedBareAndShortFrames) {
    test::reset({"statistic"});
    // Routing information: the LLC bytes are not decoded.
    EXPECT_EQ(test::decode(decode_token_ring, test::hex("10 40 ffffffffffff 80000c010203 0270 424203"), tr_header),
              banner + "\n");
    // A bare 14-byte header passes the length check and reaches LLC.
    EXPECT_EQ(test::decode(decode_token_ring, test::hex("10 40 ffffffffffff 00000c010203"), tr_header),
              banner + "\n- LLC Header -\n  [malformed: a header runs past the end of the 14-byte frame]\n");
    // A 13-byte frame is too short: only the too-short column moves.
    EXPECT_EQ(test::decode(decode_token_ring, test::hex("10 40 ffffffffffff 00000c0102"), tr_header),
              banner + "\nError: Captured data length(13 bytes) < TokenRing packet header length.\n\n");
    EXPECT_EQ(counters.token_ring_short, 1u);
    EXPECT_EQ(counters.token_ring, 2u);
    EXPECT_EQ(counters.ieee8023, 0u);
}

TEST(TokenRing, EveryPrefixStaysInsideTheFrame) {
    test::reset({"expand-all", "verbose", "statistic"});
    for (const char* f : {"10 40 ffffffffffff 00000c010203 aaaa03 000000 0806 0001 0800 0604 0001",
                          "10 40 ffffffffffff 00000c010203 e0e003 ffff 001e 00 05"})
        test::decode_all_prefixes(decode_token_ring, test::hex(f), tr_header);
}

}  // namespace
