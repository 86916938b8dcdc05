#include <gtest/gtest.h>

#include "decode/decoder.h"
#include "decode/link/ethernet.h"
#include "support.h"

namespace {

using test::hex;

std::string mop(const char* message, bool verbose) {
    test::reset({"statistic"});
    settings.verbose = verbose;
    std::string out =
        test::decode(decode_ethernet, test::concat({hex("020000000001 020000000002 6001"), hex(message)}), 14);
    EXPECT_EQ(counters.dump_load, 1u);
    return out.substr(std::string("\n- Ethernet Header -\n- MOPv3 Dump/Load Protocol header -\n").size());
}

TEST(Mop, MessagesAndNames) {
    struct {
        const char* message;
        bool verbose;
        std::string want;
    } cases[] = {
        {"08 19 01 02", true,
         "  Code: 8 (Request Program)\n  Device Type: 25, Fmt. Version: 1\n"
         "  Program Type: 2 (Operation System)\n"},
        {"08 19 01 05", true,
         "  Code: 8 (Request Program)\n  Device Type: 25, Fmt. Version: 1\n"
         "  Program Type: 5 (Unknown)\n"},
        {"17", true, "  Code: 23 (unknown)\n"},
        {"1b", true, "  Code: 27 (unknown)\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(mop(c.message, c.verbose), c.want) << c.message;
}

}  // namespace
