#include <gtest/gtest.h>

#include <cstdlib>

#include "support.h"

namespace {

TEST(Sample, ShippedCaptureIsTheGeneratedOneAndDecodes) {
    test::temp_dir dir;
    std::string command = std::string(NODRIX_BUILD_DIR) + "/make_sample " + dir.file("s.pcap");
    ASSERT_EQ(system(command.c_str()), 0);
    std::string shipped = std::string(NODRIX_SOURCE_DIR) + "/samples/sample.pcap";
    EXPECT_EQ(test::read_file(dir.file("s.pcap")), test::read_file(shipped));
    auto r = test::run_nodrix({"-P", shipped, "--expand-all", "--verbose", "--calc-checksums"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("Received frame 10(91/91 bytes length)"), std::string::npos);
    EXPECT_EQ(r.out.find("incorrect checksum"), std::string::npos);
    EXPECT_EQ(r.out.find("[truncated"), std::string::npos);
    EXPECT_EQ(r.out.find("[malformed"), std::string::npos);
}

}  // namespace
