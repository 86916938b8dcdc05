#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "zelk.h"

namespace {

TEST(Utf8Decode, ConvertsToLatin1AndMarksWhereItStopped) {
    // The output buffer is exactly as long as the input text, so the
    // sanitizer build catches any write behind it.
    struct {
        const char* input;
        std::string written;  // bytes the call must have written, '?' included
        int result;
        bool error_message;
    } cases[] = {
        {"", "", 2, false},
        {"plain ASCII text", "plain ASCII text", 2, false},
        {"caf\xc3\xa9", "caf\xe9?", -1, false},
        {"\xc3\xbf\xc2\xa0", "\xff\xa0?", -1, false},
        {"price \xe2\x82\xac 5", "price ?", -1, true},  // the euro sign has no Latin-1 byte
        {"a\xff", "a?", -1, true},                      // not UTF-8 at all
        {"ab\xc3", "ab?", -1, true},                    // a sequence cut short
    };
    for (const auto& c : cases) {
        size_t n = strlen(c.input);
        std::unique_ptr<char[]> output(new char[n]);
        testing::internal::CaptureStderr();
        int result = zelk_utf8_decode(output.get(), c.input);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(result, c.result) << c.input;
        ASSERT_LE(c.written.size(), n);
        EXPECT_EQ(std::string(output.get(), c.written.size()), c.written) << c.input;
        EXPECT_EQ(err, c.error_message ? "Error: zelk_utf8_decode: iconv error occured!\n" : "") << c.input;
    }
}

}  // namespace
