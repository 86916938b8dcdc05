#include <gtest/gtest.h>

#include "decode/context.h"
#include "decode/decoder.h"
#include "pipeline/frame_loop.h"
#include "support.h"

namespace {

// The context the test helpers decode in.
decode_context& cx = frame_loop_main_context();

TEST(Dumps, HexDumpLabelsLinesOfTwelve) {
    test::reset();
    auto data = test::hex("000102030405060708090a0b0c");
    EXPECT_EQ(test::capture_output([&] { hex_dump(cx, data.data(), 13); }),
              "\n0x0001: 00 01 02 03 04 05 06 07 08 09 0a 0b\n0x0002: 0c\n");
    EXPECT_EQ(test::capture_output([&] { hex_dump(cx, data.data(), 12); }),
              "\n0x0001: 00 01 02 03 04 05 06 07 08 09 0a 0b\n");
    EXPECT_EQ(test::capture_output([&] { hex_dump(cx, data.data(), 0); }), "\n");
}

TEST(Dumps, TextDumpBreaksEverySeventyAndMasksUnprintables) {
    test::reset();
    test::bytes data(71, 'A');
    data[1] = 0x0a;
    std::string want = " \n A." + std::string(68, 'A') + "\n A\n";
    EXPECT_EQ(test::capture_output([&] { text_dump(cx, data.data(), 71); }), want);
    EXPECT_EQ(test::capture_output([&] { text_dump(cx, data.data(), 0); }), " \n");
}

int read_past_end(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned) {
    zelk_printf("\n- Probe -");
    get_be32(cx, frame + 2);
    zelk_printf("never");
    return 0;
}

TEST(Truncation, MarkerTellsCutFromMalformed) {
    test::reset();
    auto frame = test::hex("0102030405");
    EXPECT_EQ(test::decode(read_past_end, frame, 0, 5, 100), "\n- Probe -\n  [truncated: captured 5 of 100 bytes]\n");
    EXPECT_EQ(test::decode(read_past_end, frame),
              "\n- Probe -\n  [malformed: a header runs past the end of the 5-byte frame]\n");
}

TEST(Truncation, CapturedFromClampsRanges) {
    test::reset();
    auto frame = test::hex("01020304");
    cx.start = frame.data();
    cx.end = frame.data() + frame.size();
    EXPECT_EQ(captured_from(cx, frame.data() + 1, 10), 3u);
    EXPECT_EQ(captured_from(cx, frame.data() + 4, 10), 0u);
    EXPECT_EQ(captured_from(cx, frame.data() + 9, 10), 0u);
    EXPECT_TRUE(in_frame(cx, frame.data(), 4));
    EXPECT_FALSE(in_frame(cx, frame.data() + 1, 4));
}

TEST(Checksums, ExpectedValueReadsLikeTheField) {
    test::reset({"statistic"});
    // An ICMP echo request whose checksum field holds 0x1234.
    auto msg = test::hex("0800 1234 0001 0001");
    cx.start = msg.data();
    cx.end = msg.data() + msg.size();
    msg[2] = msg[3] = 0;
    uint16_t right = test::inet_checksum(msg);
    EXPECT_EQ(expected_checksum(cx, msg.data(), msg.size(), 2), right);
    uint32_t bad = 0;
    EXPECT_EQ(test::capture_output([&] { print_checksum_verdict(cx, right, right, bad); }), " (correct checksum)");
    EXPECT_EQ(bad, 0u);
    char want[64];
    snprintf(want, sizeof want, " (incorrect checksum - should be 0x%04x)\n", right);
    EXPECT_EQ(test::capture_output([&] { print_checksum_verdict(cx, 0x1234, right, bad, "\n"); }), want);
    EXPECT_EQ(bad, 1u);
}

}  // namespace
