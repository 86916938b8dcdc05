// Hostile captures (bench/gen_hostile.py): many TCP directions that wait
// behind a hole, many fragment sets that never complete. The tables evict
// the least recently used, say so in the statistics, and the program's
// peak memory stays within the bound of what it needs without them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support.h"

namespace {

// A counter of the statistics report, whose rows hold two "name<TAB>value"
// columns.
long row_value(const std::string& out, const std::string& row) {
    for (size_t at = out.find(row + "\t"); at != std::string::npos; at = out.find(row + "\t", at + 1))
        if (at > 0 && (out[at - 1] == '\n' || out[at - 1] == '\t'))
            return strtol(out.c_str() + at + row.size() + 1, nullptr, 10);
    return -1;
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
        for (int n : {200, 20000}) {
            std::string pcap = dir.file(std::string(c.kind) + std::to_string(n) + ".pcap");
            ASSERT_EQ(system(("python3 " + gen + " " + c.kind + " " + std::to_string(n) + " " + pcap).c_str()), 0);
            std::string out = dir.file("out.txt"), err = dir.file("err.txt");
            // The same capture frame by frame: the program's own peak (a
            // file is mapped, so its pages count too).
            test::measured_run alone = test::run_measured({"-P", pcap, "--no-reassembly", "--jobs", "1"}, out, err);
            test::measured_run r =
                test::run_measured({"-P", pcap, "--statistic", "--reassembly-memory", "1", "--jobs", "1"}, out, err);
            ASSERT_EQ(r.status, 0) << c.kind;
            test::bytes text = test::read_file(out);
            std::string report(text.begin(), text.end());
            report = report.substr(report.rfind("More Protocols") == std::string::npos ? 0 : report.rfind("More"));
            long evicted = row_value(report, "Reasm. evicted"), waiting = row_value(report, c.waiting_row);
            SCOPED_TRACE(std::string(c.kind) + " " + std::to_string(n) + "\n" + report);
            // Half a MiB per table: about 200 of either kind fit.
            if (n == 200) {
                EXPECT_EQ(evicted, 0);
                EXPECT_EQ(waiting, 200);
            } else {
                EXPECT_GT(evicted, 19000);
                EXPECT_EQ(evicted + waiting, 20000);
            }
            // The tables add their bound (1 MiB) and some slack, however
            // many entries came and went.
            EXPECT_LT(r.peak_kib - alone.peak_kib, 3 * 1024) << alone.peak_kib << " KiB, then " << r.peak_kib;
        }
    }
    setenv("ASAN_OPTIONS", asan.c_str(), 1);
}

}  // namespace
