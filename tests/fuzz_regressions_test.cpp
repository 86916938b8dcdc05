// Replays the fuzz corpora and the inputs that once made a decoder or a
// reader fail through the fuzz targets' own entry points; the sanitizer
// build turns any read past the captured bytes into a failure here.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "../fuzz/entry_points.h"
#include "../fuzz/hpack_input.h"
#include "support.h"

namespace {

using entry_point = void (*)(const uint8_t*, size_t);

struct target {
    const char* name;
    entry_point run;
};

const target targets[] = {
    {"link_frame", fuzz::link_frame_input},
    {"pcap_file", fuzz::pcap_file_input},
    {"trace_file", fuzz::trace_file_input},
    {"structured_output", fuzz::structured_frame_input},
    {"where_expression", fuzz::where_expression_input},
    {"nesting", fuzz::nesting_input},
    {"reassembly", fuzz::reassembly_input},
    {"ber_message", fuzz::ber_message_input},
    {"hpack", fuzz::hpack_input},
};

TEST(FuzzRegressions, CorporaReplayCleanly) {
    for (const auto& t : targets) {
        std::filesystem::path dir = std::filesystem::path(NODRIX_SOURCE_DIR) / "fuzz" / "corpus" / t.name;
        ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir;
        int replayed = 0;
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            SCOPED_TRACE(entry.path().string());
            test::bytes input = test::read_file(entry.path().string());
            // An exact-size copy, so that the sanitizer sees a read past it.
            std::unique_ptr<uint8_t[]> copy(new uint8_t[std::max<size_t>(input.size(), 1)]);
            std::copy(input.begin(), input.end(), copy.get());
            t.run(copy.get(), input.size());
            ++replayed;
        }
        EXPECT_GT(replayed, 0) << t.name;
    }
    test::reset();
}

}  // namespace
