// The default text over a whole realistic capture, pinned by its hash: any
// change of a single byte of the classic output shows here. A change that
// alters the text on purpose (a new decoder, a mend) updates the hashes and
// says why in its commit.
#include <gtest/gtest.h>

#include <cstdio>

#include "support.h"

namespace {

std::string sha256_of_output(const std::string& command) {
    FILE* p = popen((command + " | sha256sum").c_str(), "r");
    if (!p) return "";
    char hash[65] = "";
    if (fscanf(p, "%64s", hash) != 1) hash[0] = 0;
    pclose(p);
    return hash;
}

TEST(TextHash, MixCaptureTextIsUnchanged) {
    std::string gen = std::string(NODRIX_SOURCE_DIR) + "/bench/gen_mix.py";
    test::temp_dir dir;
    std::string mix = dir.file("mix.pcap");
    ASSERT_EQ(system(("python3 " + gen + " " + mix + " 5000 >/dev/null").c_str()), 0);
    // The file name is part of the output: run where the file is.
    std::string nodrix = "cd " + dir.path + " && " + NODRIX_BINARY + " -P mix.pcap";
    EXPECT_EQ(sha256_of_output(nodrix), "39ef023170ac8b022e2485e77edcd6a246021015797e2c4b6384949b1f1bc0a8");
    EXPECT_EQ(sha256_of_output(nodrix + " --expand-all --verbose --calc-checksums"),
              "7198a683935a73798d22d969ececfd37b07d0fc68cf5c5fdcd3ec09918d09483");
}

}  // namespace
