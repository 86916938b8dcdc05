#include "decode/link/fddi.h"

#include <gtest/gtest.h>

#include "decode/decoder.h"
#include "support.h"

namespace {

constexpr unsigned fddi_header = 21;
const std::string banner = "\n- FDDI Header -";

TEST(Fddi, FrameControlNames) {
    const char* cases[][2] = {{"40", " (void frame)"},

                              {"41", " (SMT info)"},
                              {"4f", " (SMT next station address)"},

                              {"c4", " (mac4)"},

                              {"57", " (async7)"},

                              {"60", " (imp async0)"},
                              {"ef", " (imp syncf)"},
                              {"10", ""},
                              {"f1", ""}};
    test::reset({"expand-fddi", "verbose"});
    for (const auto& c : cases) {
        auto frame = test::concat({test::hex(c[0]), test::hex("ffffffffffff 00000c010203 aaaa03 000000 0800")});
        EXPECT_EQ(test::decode(decode_fddi, frame, fddi_header),
                  banner + "\n  Frame Control: 0x" + c[0] + c[1] +
                      "\n  MAC Dst: ff:ff:ff:ff:ff:ff (Type: Broadcast)\n  MAC Src: 00:00:0c:01:02:03 (Vendor: Cisco "
                      "                        )\n");
    }
}

TEST(Fddi, CollapsedPlainAndShortFrames) {
    test::reset({"statistic"});
    auto frame = test::hex("50 020000000001 020000000002");
    EXPECT_EQ(test::decode(decode_fddi, frame, fddi_header), banner + "\n");
    settings.expand_all = true;
    EXPECT_EQ(test::decode(decode_fddi, frame, fddi_header),
              banner + "\n  Frame Control: 0x50\n  MAC Dst: 02:00:00:00:00:01\n  MAC Src: 02:00:00:00:00:02\n");
    frame.pop_back();
    EXPECT_EQ(test::decode(decode_fddi, frame, fddi_header),
              banner + "\nError: Captured data length(12 bytes) < FDDI packet header length.\n\n");
    EXPECT_EQ(counters.fddi, 2u);
    EXPECT_EQ(counters.fddi_short, 1u);
    test::decode_all_prefixes(decode_fddi, test::hex("50 020000000001 020000000002 aaaa03"), fddi_header);
}

}  // namespace
