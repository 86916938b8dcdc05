#include "decode/ip/icmpv6.h"

#include <gtest/gtest.h>

#include "decode/context.h"
#include "decode/decoder.h"
#include "pipeline/frame_loop.h"
#include "support.h"

namespace {

// The context the test helpers decode in.
decode_context& cx = frame_loop_main_context();

int icmpv6_behind_link(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    return decode_icmpv6(cx, frame, offset);
}

TEST(Icmpv6, SeparatorCodeNamesAndTypeLines) {
    struct {
        const char* message;
        bool verbose;
        const char* want;  // behind "- ICMPv6 Header -\n  Type: "
    } cases[] = {
        {"80 00 347c 0200 0001", false, "128\n  Code: 0, Checksum: 0x347c\n  Identifier: 512, Seq.: 1\n"},
        {"87 00 1111 00000000", true, "135 (Neighbor Solicitation)\n  Code: 0\n  Checksum: 0x1111\n"},
        {"01 09 2222 00000000", true, "1 (Dest. unreachable)\n  Code: 9 (unknown)\n  Checksum: 0x2222\n"},
        {"02 00 9d20 fffffff0", false, "2\n  Code: 0, Checksum: 0x9d20\n  MTU: 4294967280\n"},
        {"8a ff 329b 00000003", true,
         "138 (Router renumbering)\n  Code: 255 (Sequence Number Reset)\n  Checksum: 0x329b\n"},
        {"84 00 4be1 0102 0000", false, "132\n  Code: 0, Checksum: 0x4be1\n  Maximum Response Delay: 258\n"},
        {"c8 05 0000 0000", true, "200 (unknown)\n  Code: 5\n  Checksum: 0x0000\n"},
    };
    for (const auto& c : cases) {
        test::reset({"statistic"});
        settings.verbose = c.verbose;
        // Behind a 4-byte link header, so that the header is looked for there.
        auto frame = test::concat({test::hex("eeeeeeee"), test::hex(c.message)});
        EXPECT_EQ(test::decode(icmpv6_behind_link, frame, 4), std::string("- ICMPv6 Header -\n  Type: ") + c.want);
        EXPECT_EQ(counters.icmpv6, 1u);
        EXPECT_GT(test::decode_all_prefixes(icmpv6_behind_link, frame, 4), 0) << c.message;
    }
}

}  // namespace
