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
    // Both streams together read in the same order too: the closing lines
    // on standard error come after the last frame.
    for (const char* mode : {"--summary", "--json"}) {
        auto merged = [&](const char* jobs) {
            return test::shell(std::string(NODRIX_BINARY " -P ") + mix + " " + mode + " --jobs " + jobs + " 2>&1").out;
        };
        EXPECT_TRUE(merged("1") == merged("3")) << mode;
    }
    EXPECT_EQ(test::run_nodrix({"-P", mix, "--jobs", "0"}).status, 1);
}

// A plain file is read from a memory map, standard input through libpcap: damaged
// records, counts, filters and threads give the same text, message and
// status either way.
TEST(MappedFile, ReadsWhatThePipeReads) {
    std::string gen = std::string(NODRIX_SOURCE_DIR) + "/bench/gen_mix.py";
    test::temp_dir dir;
    std::string mix = dir.file("mix.pcap");
    ASSERT_EQ(system(("python3 " + gen + " " + mix + " 400 >/dev/null").c_str()), 0);
    test::bytes whole = test::read_file(mix);
    // The offset of record n.
    auto record_at = [&](unsigned n) {
        size_t at = 24;
        for (unsigned i = 0; i < n; ++i)
            at += 16 + (whole[at + 8] | whole[at + 9] << 8 | whole[at + 10] << 16 | static_cast<size_t>(whole[at + 11]) << 24);
        return at;
    };
    auto with_caplen = [&](unsigned n, uint32_t caplen) {
        test::bytes b = whole;
        for (int i = 0; i < 4; ++i) b[record_at(n) + 8 + i] = static_cast<uint8_t>(caplen >> (8 * i));
        return b;
    };
    const std::vector<std::pair<std::string, test::bytes>> files = {
        {"whole", whole},
        {"cut in a record", test::bytes(whole.begin(), whole.begin() + static_cast<long>(record_at(300) + 40))},
        {"cut in a header", test::bytes(whole.begin(), whole.begin() + static_cast<long>(record_at(200) + 7))},
        {"huge record", with_caplen(150, 300000)},
        {"record past the end", with_caplen(399, 70000)},
        {"header only", test::bytes(whole.begin(), whole.begin() + 24)},
    };
    const std::vector<std::string> modes = {"",         "--max-packets 5",      "--max-packets 250 -f tcp",
                                            "--jobs 2", "--jobs 3 --summary",   "--json -f udp"};
    for (const auto& [name, bytes] : files) {
        std::string file = dir.file("damaged.pcap");
        test::write_file(file, bytes);
        for (const std::string& mode : modes) {
            SCOPED_TRACE(name + " [" + mode + "]");
            // The line naming the file differs; the rest must agree.
            std::string tail = " 2>&1 | grep -v \"^Read packet\"; echo status ${PIPESTATUS[0]}";
            test::run_result mapped = test::shell("bash -c '" NODRIX_BINARY " -P " + file + " " + mode + tail + "'");
            test::run_result piped =
                test::shell("bash -c '" NODRIX_BINARY " -P - " + mode + " <" + file + tail + "'");
            EXPECT_TRUE(mapped.out == piped.out) << mapped.out.substr(0, 300) << "\n---\n" << piped.out.substr(0, 300);
        }
    }
}

}  // namespace
