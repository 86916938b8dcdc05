#include <gtest/gtest.h>

#include <climits>
#include <cstdio>

#include "support.h"
#include "zelk.h"

namespace {

// zelk_printf formats the common conversions itself; every one of them
// must come out exactly as the C library prints it.
template <typename... Args>
void expect_same(const char* format, Args... args) {
    char want[256];
    snprintf(want, sizeof want, format, args...);
    std::string got = test::capture_output([&] { zelk_printf(format, args...); });
    EXPECT_EQ(got, want) << "format: " << format;
}

TEST(Printf, FastPathMatchesTheCLibrary) {
    test::reset();
    expect_same("plain text\n");
    expect_same("100%% sure");
    expect_same("\n  Src Port: %d, Dst Port: %d", 0, 65535);
    for (int v : {0, 1, -1, 9, 10, 255, 4096, INT_MAX, INT_MIN}) {
        expect_same("%d|%u|%x|%X", v, static_cast<unsigned>(v), static_cast<unsigned>(v), static_cast<unsigned>(v));
        expect_same("%02x %04x %08x %2d %5d %05d", v & 0xff, v & 0xffff, static_cast<unsigned>(v), v, v, v);
        expect_same("0x%02X:%3u", v & 0xff, static_cast<unsigned>(v));
    }
    for (long v : {0L, -1L, LONG_MAX, LONG_MIN})
        expect_same("%ld %lu %lx", v, static_cast<unsigned long>(v), static_cast<unsigned long>(v));
    expect_same("%s and %s", "text", "");
    expect_same("[%c][%c]", 'A', '.');
    expect_same("%c", 7);
    expect_same("%.0f B/s", 1234.0);
    expect_same("%-6s|%+d|%.2x", "ab", 5, 1);
}

TEST(Printf, NulCharacterIsWritten) {
    test::reset();
    std::string got = test::capture_output([] { zelk_printf("a%cb", 0); });
    EXPECT_EQ(got, std::string("a\0b", 3));
}

// Text is gathered before it reaches the stream: pieces larger than the
// gathering buffer, many pieces that cross its end, and writes made to the
// stream directly after a drain all come out in the order printed.
TEST(Printf, GatheredTextKeepsItsOrder) {
    test::reset();
    std::string big(150000, 'x');
    std::string want;
    std::string got = test::capture_output([&] {
        zelk_printf("<");
        zelk_printf("%s", big.c_str());
        for (int i = 0; i < 30000; ++i) {
            zelk_printf("%d,", i);
            if (i % 7000 == 0) {
                zelk_drain_output();
                fputs("|direct|", zelk_output());
            }
        }
        zelk_write(">", 1);
    });
    want = "<" + big;
    for (int i = 0; i < 30000; ++i) {
        want += std::to_string(i) + ",";
        if (i % 7000 == 0) want += "|direct|";
    }
    want += ">";
    EXPECT_EQ(got.size(), want.size());
    EXPECT_TRUE(got == want);
}

}  // namespace
