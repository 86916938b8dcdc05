// Record-aligned slices (--range, --index): the outputs of a file's slices,
// put together in order, are the output of the whole file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "support.h"

namespace {

struct index_entry {
    unsigned long frame;
    unsigned long offset;
    std::string previous;
};

// The "frame" lines of --index, and the end offset of the last record.
std::vector<index_entry> read_index(const std::string& text, unsigned long* end) {
    std::vector<index_entry> entries;
    std::istringstream lines(text);
    for (std::string kind; lines >> kind;) {
        if (kind == "frame") {
            index_entry e;
            lines >> e.frame >> e.offset >> e.previous;
            entries.push_back(e);
        } else if (kind == "end") {
            unsigned long frames;
            lines >> frames >> *end;
        }
    }
    return entries;
}

std::string mix_file(const test::temp_dir& dir, unsigned frames) {
    std::string mix = dir.file("mix.pcap");
    std::string gen = std::string(NODRIX_SOURCE_DIR) + "/bench/gen_mix.py";
    EXPECT_EQ(system(("python3 " + gen + " " + mix + " " + std::to_string(frames) + " >/dev/null").c_str()), 0);
    return mix;
}

std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string>& more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

TEST(Slices, SlicesPutTogetherGiveTheWholeOutput) {
    test::temp_dir dir;
    constexpr unsigned long frames = 1536;
    std::string mix = mix_file(dir, frames);
    const std::vector<std::string> text = {}, summary = {"--summary"}, json = {"--json"};
    const struct {
        unsigned long slices;
        std::vector<std::string> mode;
    } rows[] = {
        {2, text},
        {2, summary},
        {2, json},
        {7, text},
        {7, summary},
        {7, json},
        {64, text},
        {64, summary},
        {64, json},
        // The times that depend on frames before the slice, and several threads in a slice.
        {7, {"--expand-all", "--verbose", "--time-format", "delta"}},
        {7, {"--summary", "--time-format", "relative"}},
        {7, {"--json", "--time-format", "delta", "--jobs", "2"}},
    };
    for (const auto& row : rows) {
        auto index = test::run_nodrix({"-P", mix, "--index", std::to_string((frames + row.slices - 1) / row.slices)});
        ASSERT_EQ(index.status, 0) << index.err;
        unsigned long end = 0;
        auto entries = read_index(index.out, &end);
        ASSERT_EQ(entries.size(), row.slices);
        std::string whole = test::run_nodrix(with({"-P", mix}, row.mode)).out;
        std::string joined;
        for (size_t i = 0; i < entries.size(); ++i) {
            unsigned long to = i + 1 < entries.size() ? entries[i + 1].offset : end;
            std::vector<std::string> args = {"-P",
                                             mix,
                                             "--range",
                                             std::to_string(entries[i].offset) + ":" + std::to_string(to),
                                             "--first-frame",
                                             std::to_string(entries[i].frame)};
            if (entries[i].previous != "-") args = with(args, {"--previous-time", entries[i].previous});
            auto r = test::run_nodrix(with(args, row.mode));
            EXPECT_EQ(r.status, 0) << r.err;
            joined += r.out;
        }
        std::string mode;
        for (const auto& option : row.mode) mode += " " + option;
        SCOPED_TRACE(std::to_string(row.slices) + " slices," + (mode.empty() ? " text" : mode));
        EXPECT_TRUE(joined == whole) << joined.size() << " bytes joined, " << whole.size() << " whole";
    }
}

// Cuts anywhere, inside records too: each record belongs to the slice its
// first byte lies in. Without --first-frame a slice counts the records in
// front of it (and so knows the time of the one before it); with it, it
// looks for the next record header from START.
TEST(Slices, StartInsideARecordMovesToTheNextRecord) {
    test::temp_dir dir;
    std::string mix = mix_file(dir, 400);
    struct stat st {};
    ASSERT_EQ(stat(mix.c_str(), &st), 0);
    auto size = static_cast<unsigned long>(st.st_size);
    const std::vector<unsigned long> cuts = {0, 7, 30, 1001, 1002, 20000, 20001, size / 2 + 3, size - 5, size};
    for (bool numbered : {false, true}) {
        for (const char* mode : {"--summary", "--json"}) {
            std::vector<std::string> options = {mode};
            if (!numbered) options = with(options, {"--time-format", "delta"});
            std::string joined;
            for (size_t i = 0; i + 1 < cuts.size(); ++i) {
                std::string range = std::to_string(cuts[i]) + ":" + std::to_string(cuts[i + 1]);
                std::vector<std::string> args = with({"-P", mix, "--range", range}, options);
                if (numbered) {
                    // The number of the slice's first frame, as a counting run finds it.
                    auto counted = test::run_nodrix({"-P", mix, "--range", range, "--json"});
                    std::string frame = "1";
                    size_t at = counted.out.find("{\"frame\":");
                    if (at != std::string::npos) frame = counted.out.substr(at + 9, counted.out.find(',', at) - at - 9);
                    args = with(args, {"--first-frame", frame});
                }
                auto r = test::run_nodrix(args);
                EXPECT_EQ(r.status, 0) << range << ": " << r.err;
                joined += r.out;
            }
            std::string whole = test::run_nodrix(with({"-P", mix}, options)).out;
            SCOPED_TRACE(std::string(numbered ? "numbered " : "counted ") + mode);
            EXPECT_TRUE(joined == whole) << joined.size() << " bytes joined, " << whole.size() << " whole";
        }
    }
}

TEST(Slices, IndexListsEveryNthRecord) {
    test::temp_dir dir;
    std::string mix = mix_file(dir, 10);
    auto r = test::run_nodrix({"-P", mix, "--index", "4"});
    EXPECT_EQ(r.status, 0) << r.err;
    std::ifstream expected(std::string(NODRIX_SOURCE_DIR) + "/tests/data/slice_index.txt");
    std::stringstream text;
    text << expected.rdbuf();
    EXPECT_EQ(r.out, text.str());
    // A file cut inside its last record: the reason, and a failure status.
    auto whole = test::read_file(mix);
    test::write_file(dir.file("cut.pcap"), test::bytes(whole.begin(), whole.end() - 10));
    r = test::run_nodrix({"-P", dir.file("cut.pcap"), "--index", "4"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("truncated"), std::string::npos) << r.err;
}

TEST(Slices, RefusesWhatASliceCannotDo) {
    test::temp_dir dir;
    std::string mix = mix_file(dir, 20);
    ASSERT_EQ(system(("gzip -c " + mix + " > " + dir.file("mix.pcap.gz")).c_str()), 0);
    ASSERT_EQ(system(("mkfifo " + dir.file("fifo")).c_str()), 0);
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"-P", dir.file("mix.pcap.gz"), "--range", "0:100"}, "cannot read a gzip-compressed file"},
        {{"-P", dir.file("mix.pcap.gz"), "--index", "5"}, "cannot read a gzip-compressed file"},
        {{"-P", "-", "--range", "0:100"}, "needs a regular file it can seek in"},
        {{"-P", dir.file("fifo"), "--index", "5"}, "needs a regular file it can seek in"},
        {{"-S", mix, "--range", "0:100"}, "works on a pcap or pcapng file named with -P"},
        {{"--range", "0:100"}, "works on a pcap or pcapng file named with -P"},
        {{"-P", mix, "--range", "0:100", "-f", "udp"}, "cannot be combined with a filter"},
        {{"-P", mix, "--range", "0:100", "--statistic"}, "report on the whole run"},
        {{"-P", mix, "--range", "0:100", "--print-tcp-stream"}, "report on the whole run"},
        {{"-P", mix, "--range", "0:100", "--index", "3"}, "--range and --index cannot be used together"},
        {{"-P", mix, "--first-frame", "3"}, "belong to a --range slice"},
        {{"-P", mix, "--index", "3", "--previous-time", "1.5"}, "belong to a --range slice"},
        {{"-P", mix, "--range", "100"}, "--range takes START:END"},
        {{"-P", mix, "--range", "200:100"}, "--range takes START:END"},
        {{"-P", mix, "--range", "-1:100"}, "--range takes START:END"},
        {{"-P", mix, "--range", "0:100", "--first-frame", "0"}, "--first-frame takes a frame number from 1"},
        {{"-P", mix, "--range", "0:100", "--previous-time", "1.1234567891"}, "--previous-time takes SECONDS.FRACTION"},
        {{"-P", mix, "--index", "0"}, "takes a number from 1"},
    };
    for (const auto& c : cases) {
        auto r = test::run_nodrix(c.args, 10);
        std::string line;
        for (const auto& a : c.args) line += a + " ";
        EXPECT_EQ(r.status, 1) << line;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << line << "\n" << r.err;
        EXPECT_EQ(r.out, "") << line;
    }
}

}  // namespace

namespace {

// A slice told where to start that finds no record header in the largest
// record's length from there: the file is damaged, and the run says so.
TEST(Slices, NoRecordHeaderNearStartIsAnError) {
    test::temp_dir dir;
    test::bytes file = test::pcap_file({{test::bytes(60, 0x11)}});
    file.insert(file.end(), 300000, 0xff);
    test::write_file(dir.file("damaged.pcap"), file);
    auto r = test::run_nodrix({"-P", dir.file("damaged.pcap"), "--range", "200:", "--first-frame", "2"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("No record header found in the 266240 bytes from offset 200 of"), std::string::npos) << r.err;
}

}  // namespace
