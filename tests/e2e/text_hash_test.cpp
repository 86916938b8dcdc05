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

// Decoding on several threads writes exactly what one thread writes: every
// output mode, and a file cut inside a record (same message, same status).
TEST(Jobs, AnyNumberOfJobsGivesTheSameOutput) {
    std::string gen = std::string(NODRIX_SOURCE_DIR) + "/bench/gen_mix.py";
    test::temp_dir dir;
    std::string mix = dir.file("mix.pcap");
    ASSERT_EQ(system(("python3 " + gen + " " + mix + " 3000 >/dev/null").c_str()), 0);
    auto whole = test::read_file(mix);
    test::bytes cut(whole.begin(), whole.begin() + static_cast<long>(whole.size() * 2 / 3));
    test::write_file(dir.file("cut.pcap"), cut);
    const std::vector<std::vector<std::string>> modes = {
        {}, {"--expand-all", "--verbose", "--calc-checksums"}, {"--summary"}, {"--json"}, {"--json", "--statistic"}};
    for (const std::string& file : {mix, dir.file("cut.pcap")}) {
        for (const auto& mode : modes) {
            std::vector<std::string> args = {"-P", file};
            args.insert(args.end(), mode.begin(), mode.end());
            auto one = args;
            one.insert(one.end(), {"--jobs", "1"});
            test::run_result reference = test::run_nodrix(one);
            for (const char* jobs : {"2", "3", "8"}) {
                auto many = args;
                many.insert(many.end(), {"--jobs", jobs});
                test::run_result r = test::run_nodrix(many);
                SCOPED_TRACE(file + " " + (mode.empty() ? "" : mode[0]) + " --jobs " + jobs);
                EXPECT_EQ(r.status, reference.status);
                EXPECT_TRUE(r.out == reference.out);
                EXPECT_EQ(r.err, reference.err);
            }
        }
    }
    EXPECT_EQ(test::run_nodrix({"-P", mix, "--jobs", "0"}).status, 1);
}

}  // namespace
