#include "decode/link/ieee80211.h"

#include <gtest/gtest.h>

#include "decode/decoder.h"
#include "support.h"

namespace {

using test::bytes;
using test::hex;

const char* const a1 = "021111111111";
const char* const a2 = "022222222222";
const char* const a3 = "023333333333";
const char* const a4 = "024444444444";

bytes data_frame(const char* fc, const std::string& body) {
    return hex(std::string(fc) + "2c00" + a1 + a2 + a3 + "5006" + body);
}

TEST(Ieee80211, FourAddressDataFrames) {
    // Both DS bits: four addresses, the LLC header 30 bytes in.
    test::reset();
    auto out = test::decode(decode_ieee80211, hex(std::string("0803 2c00") + a1 + a2 + a3 + "5006" + a4 + "4242 03"));
    EXPECT_TRUE(
        out.ends_with("  RA: 02:11:11:11:11:11\n  TA: 02:22:22:22:22:22\n  DA: 02:33:33:33:33:33\n"
                      "  SA: 02:44:44:44:44:44\n  Fragment Number: 0, Sequence Number: 101\n- LLC Header -\n"))
        << out;
}

TEST(Ieee80211, FlagsWepAndFramesWithoutBody) {
    test::reset({"verbose", "statistic"});
    auto out = test::decode(decode_ieee80211, data_frame("08fc", "0102030405"));
    EXPECT_NE(out.find("  More-Fragment: 1024, Retry: 2048\n  Power-Management: 4096, More-Data: 8192\n"
                       "  WEP: 16384, Order: 32768\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find(", Sequence Number: 101\n  Data: <WEP encrypted, not implemented @ the moment>\n"),
              std::string::npos);
    EXPECT_EQ(out.find("LLC"), std::string::npos);
    // A null data frame ends with its header: no LLC header to look for.
    out = test::decode(decode_ieee80211, data_frame("4800", ""));
    EXPECT_NE(out.find("  Subtype: 4 (Null)\n"), std::string::npos) << out;
    EXPECT_TRUE(out.ends_with("Sequence Number: 101")) << out;
    // Cut by the capture, the body is still looked for.
    out = test::decode(decode_ieee80211, data_frame("0800", ""), 0, 24, 40);
    EXPECT_TRUE(out.ends_with("- LLC Header -\n  [truncated: captured 24 of 40 bytes]\n")) << out;
    EXPECT_EQ(counters.ieee80211, 2u);
}

TEST(Ieee80211, ControlFramesAndShortFrames) {
    test::reset({"verbose", "statistic"});
    EXPECT_EQ(test::decode(decode_ieee80211, hex(std::string("a400 05c0") + a1 + a2 + "a1b2c3d4")),
              "\n- 802.11 Header -\n  Version: 0, Type: 1 (Control)\n  Subtype: 10 (Power save poll)\n"
              "  AID: 49157\n  BSSID: 02:11:11:11:11:11\n  TA: 02:22:22:22:22:22\n  FCS: 0xa1b2c3d4\n");
    EXPECT_EQ(test::decode(decode_ieee80211, hex("0400 0000")),
              "\n- 802.11 Header -\n  Version: 0, Type: 1 (Control)\n  Subtype: 0\n");
    EXPECT_EQ(test::decode(decode_ieee80211, hex("80")),
              "\n- 802.11 Header -\nError: Captured data length(1 bytes) < Frame Control length.\n");
    EXPECT_EQ(counters.ieee80211_short, 1u);
    EXPECT_EQ(counters.ieee80211, 2u);
}

}  // namespace
