// Tunnels in tunnels and header chains thousands deep: decoding stops at a
// fixed depth with a marker, whatever the stack, in every output mode.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support.h"

namespace {

TEST(Nesting, DeepFramesEndWithAMarkerOnASmallStack) {
    test::temp_dir dir;
    std::string generator = std::string(NODRIX_SOURCE_DIR) + "/tests/data/nested_frames.py";
    // Each kind nested past 200 KB of frame (below the pcap limit of 256 KiB).
    const struct {
        const char* kind;
        int depth;
    } kinds[] = {{"gre", 7000},   {"ipip", 9000},   {"ah", 15000},     {"ipv6_ext", 25000},
                 {"vxlan", 4000}, {"geneve", 4000}, {"etherip", 5000}, {"mpls", 9000}};
    for (const auto& k : kinds) {
        std::string file = dir.file(std::string(k.kind) + ".pcap");
        ASSERT_EQ(system(("python3 " + generator + " " + k.kind + " " + std::to_string(k.depth) + " " + file).c_str()),
                  0);
        for (const char* mode : {"--expand-all", "--json", "--summary"}) {
            SCOPED_TRACE(std::string(k.kind) + " " + mode);
            test::run_result r =
                test::shell("ulimit -s 256 && " + std::string(NODRIX_BINARY) + " -P " + file + " " + mode + " 2>&1");
            EXPECT_EQ(r.status, 0) << r.out.substr(r.out.size() > 400 ? r.out.size() - 400 : 0);
            if (std::string(mode) == "--expand-all")
                EXPECT_NE(r.out.find("\n  [malformed: nesting deeper than 32]\n"), std::string::npos);
            else if (std::string(mode) == "--json")
                EXPECT_NE(r.out.find("\"malformed\":true"), std::string::npos);
            else
                EXPECT_NE(r.out.find("[malformed]"), std::string::npos);
        }
    }
}

}  // namespace
