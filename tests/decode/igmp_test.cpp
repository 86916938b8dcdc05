#include "decode/ip/igmp.h"

#include <gtest/gtest.h>

#include "decode/context.h"
#include "decode/decoder.h"
#include "ip_frames.h"
#include "pipeline/frame_loop.h"

namespace {

// The context the test helpers decode in.
decode_context& cx = frame_loop_main_context();

using test::bytes;

int igmp_behind_link(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    return decode_igmp(cx, lengths, frame, offset);
}

TEST(Igmp, LayoutAndCounterFollowTheType) {
    struct {
        const char* message;
        const char* want;
        uint32_t protocol_counters::*counter;
    } cases[] = {
        {"03 02 1bfb e0010101", "- IGMPv0 Header -\n  Type: 0x03 (Join Group Request)\n  Code: 2, Checksum: 0x1bfb",
         &protocol_counters::igmpv0},
        // A query's second byte is a response time, yet it shows as unused.
        {"11 64 ee9b 00000000", "- IGMPv1 Header -\n  Type: 0x11 (Membership query)\n  Unused: 100, Checksum: 0xee9b",
         &protocol_counters::igmpv1},
        {"22 00 ffff 00000001",
         "- IGMPv2 Header -\n  Type: 0x22 (Membership version 3 report)\n  Max resonse time: 0, Checksum: 0xffff",
         &protocol_counters::igmpv2},
        {"09 00 ffff 00000000", "- Unknown IGMP Header -\n", nullptr},
    };
    for (const auto& c : cases) {
        test::reset({"statistic", "verbose"});
        std::string out = test::decode(igmp_behind_link, test::hex(c.message));
        EXPECT_EQ(out.substr(0, out.find("\n  Group Addr")), c.want);
        EXPECT_EQ(counters.igmpv0 + counters.igmpv1 + counters.igmpv2, c.counter ? 1u : 0u) << c.message;
        if (c.counter) {
            EXPECT_EQ(counters.*c.counter, 1u) << c.message;
        }
    }
}

TEST(Igmp, ChecksumCoversTheMessageToTheEndOfTheIpPayload) {
    bytes report = ipf::icmp(0x22, 0, test::hex("0000 0001 04 00 0000 ef090909"));  // a v3 report, 16 bytes
    bytes flipped = report;
    flipped[15] ^= 0x01;
    bytes fixed = flipped;
    test::put_be16(fixed, 2, 0);
    struct {
        const bytes& message;
        long captured;
        std::string verdict;
        uint32_t bad;
    } cases[] = {
        {report, -1, " (correct checksum)", 0},
        {flipped, -1, " (incorrect checksum - should be " + ipf::hex16(test::inet_checksum(fixed)) + ")", 1},
        {flipped, 14 + 24 + 12, "", 0},  // cut by the snap length: no verdict
    };
    for (const auto& c : cases) {
        test::reset({"calc-checksums", "statistic"});
        // Router alert option; padded to 60 bytes with bytes that must not count.
        bytes frame = ipf::ethernet(0x0800, ipf::ipv4(2, c.message, test::hex("94040000")));
        frame.resize(60, 0xa5);
        std::string out = ipf::decode_ethernet_frame(frame, c.captured, 60);
        EXPECT_EQ(ipf::slice(out, "Max resonse", "\n"),
                  "Max resonse time: 0, Checksum: " + ipf::hex16(ipf::be16_at(c.message, 2)) + c.verdict);
        EXPECT_EQ(counters.igmpv2_bad, c.bad);
        EXPECT_GT(test::decode_all_prefixes(decode_ethernet, frame, 14), 0);
    }
}

}  // namespace
