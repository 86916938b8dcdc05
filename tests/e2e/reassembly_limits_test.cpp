// Hostile captures (bench/gen_hostile.py): many TCP directions that wait
// behind a hole, many fragment sets that never complete. The tables evict
// the least recently used, say so in the statistics, and the program's
// peak memory stays near that of a small capture of the same kind.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support.h"

namespace {

long row_value(const std::string& out, const std::string& row) {
    size_t at = out.find("\n" + row + "\t");
    return at == std::string::npos ? -1 : strtol(out.c_str() + at + row.size() + 2, nullptr, 10);
}

TEST(ReassemblyLimits, HostileCapturesStayWithinTheBound) {
    // In the sanitizer build freed memory waits in the allocator's
    // quarantine, which would count what was evicted.
    std::string asan = getenv("ASAN_OPTIONS") ? getenv("ASAN_OPTIONS") : "";
    setenv("ASAN_OPTIONS", (asan + (asan.empty() ? "" : ":") + "quarantine_size_mb=0").c_str(), 1);
    test::temp_dir dir;
    std::string gen = std::string(NODRIX_SOURCE_DIR) + "/bench/gen_hostile.py";
    struct {
        const char* kind;
        const char* waiting_row;  // counted at the end for what still waits
    } cases[] = {{"holes", "TCP incomplete"}, {"frags", "Frag. incomplete"}};
    for (const auto& c : cases) {
        long peak[2] = {0, 0};
        const int sizes[2] = {200, 20000};
        for (int i = 0; i < 2; ++i) {
            std::string pcap = dir.file(std::string(c.kind) + std::to_string(sizes[i]) + ".pcap");
            ASSERT_EQ(system(("python3 " + gen + " " + c.kind + " " + std::to_string(sizes[i]) + " " + pcap).c_str()),
                      0);
            std::string out = dir.file("out.txt"), err = dir.file("err.txt");
            test::measured_run r =
                test::run_measured({"-P", pcap, "--statistic", "--reassembly-memory", "1", "--jobs", "1"}, out, err);
            ASSERT_EQ(r.status, 0) << c.kind;
            peak[i] = r.peak_kib;
            test::bytes text = test::read_file(out);
            std::string report(text.begin(), text.end());
            report = report.substr(report.rfind("More Protocols") == std::string::npos ? 0 : report.rfind("More"));
            long evicted = row_value(report, "Reasm. evicted"), waiting = row_value(report, c.waiting_row);
            SCOPED_TRACE(std::string(c.kind) + " " + std::to_string(sizes[i]) + "\n" + report);
            // Half a MiB per table: about 200 of either kind fit.
            if (sizes[i] == 200) {
                EXPECT_EQ(evicted, 0);
                EXPECT_EQ(waiting, 200);
            } else {
                EXPECT_GT(evicted, 19000);
                EXPECT_EQ(evicted + waiting, 20000);
            }
        }
        // A hundred times as much waiting adds little: the bound, not the
        // capture, sets the memory.
        EXPECT_LT(peak[1] - peak[0], 6 * 1024) << c.kind << ": " << peak[0] << " KiB, then " << peak[1] << " KiB";
    }
    setenv("ASAN_OPTIONS", asan.c_str(), 1);
}

}  // namespace
