// Habits from other capture tools and edges of the command line: numbers
// that are no numbers, tcpdump's letters, "-r FILE" meant as reading, and
// the lists of options.
#include <gtest/gtest.h>

#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "capture/trace_files.h"
#include "support.h"

namespace {

test::bytes plain_frame() { return test::hex("020000000002 020000000001 88b5 00000000"); }

std::string text_of(const std::string& path) {
    auto b = test::read_file(path);
    return std::string(b.begin(), b.end());
}

std::string source_file(const std::string& name) { return text_of(std::string(NODRIX_SOURCE_DIR) + "/" + name); }

// The long option names a text mentions ("--expand-<protocol>" and the
// like name no option).
std::set<std::string> long_options_in(const std::string& text) {
    std::set<std::string> names;
    static const std::regex option("--[a-z]+(?:-[a-z]+)*(?![-a-z<*])");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), option); it != std::sregex_iterator(); ++it)
        names.insert(it->str());
    return names;
}

TEST(NumericOptions, NoNumberNegativeOrOutOfRangeIsRefused) {
    test::temp_dir dir;
    test::write_file(dir.file("in.pcap"), test::pcap_file({{plain_frame()}, {plain_frame()}}));
    struct {
        std::vector<std::string> args;
        int status;
        std::string err;  // the whole of standard error
    } rows[] = {
        {{"--max-packets", "abc"}, 1, "nodrix: `--max-packets' takes a number from 0 to 2147483647, not `abc'\n"},
        {{"--max-packets", "-1"}, 1, "nodrix: `--max-packets' takes a number from 0 to 2147483647, not `-1'\n"},
        {{"--max-packets", "99999999999"},
         1,
         "nodrix: `--max-packets' takes a number from 0 to 2147483647, not `99999999999'\n"},
        {{"-s", "abc"}, 1, "nodrix: `--snaplen' (`-s') takes a number from 0 to 2147483647, not `abc'\n"},
        {{"-s", "-5"}, 1, "nodrix: `--snaplen' (`-s') takes a number from 0 to 2147483647, not `-5'\n"},
        {{"--server-port", "70000"}, 1, "nodrix: `--server-port' takes a number from 1 to 65535, not `70000'\n"},
        {{"--server-port", "0"}, 1, "nodrix: `--server-port' takes a number from 1 to 65535, not `0'\n"},
        {{"--server-port", "http"}, 1, "nodrix: `--server-port' takes a number from 1 to 65535, not `http'\n"},
        {{"--bt", "hci0"}, 1, "nodrix: `--bt' takes a number from 0 to 65535, not `hci0'\n"},
        {{"--server-timeout", "0"}, 1, "nodrix: `--server-timeout' takes a number from 1 to 2147483647, not `0'\n"},
        {{"--tcp-stream-limit", "-1"},
         1,
         "nodrix: `--tcp-stream-limit' takes a number from 0 to 2147483647, not `-1'\n"},
        {{"--max-packets="}, 1, "nodrix: `--max-packets' takes a number from 0 to 2147483647, not `'\n"},
        // In range, and a number followed by other text, go ahead as always.
        {{"--max-packets", "0"}, 0, ""},
        {{"--max-packets", "1frame"}, 0, ""},
        {{"--server-port", "65535"}, 0, ""},
        {{"--server-port", "1"}, 0, ""},
        {{"-s", "0"}, 0, ""},
        {{"--tcp-stream-limit", "0"}, 0, ""},
    };
    for (const auto& row : rows) {
        std::vector<std::string> args{"-P", dir.file("in.pcap")};
        args.insert(args.end(), row.args.begin(), row.args.end());
        auto r = test::run_nodrix(args);
        EXPECT_EQ(r.status, row.status) << testing::PrintToString(row.args);
        EXPECT_EQ(r.err, row.err) << testing::PrintToString(row.args);
        if (row.status == 1) {
            EXPECT_EQ(r.out, "");
        }
    }
}

TEST(TcpdumpLetters, HintAtTheNodrixWay) {
    test::temp_dir dir;
    test::write_file(dir.file("in.pcap"), test::pcap_file({{plain_frame()}}));
    struct {
        std::vector<std::string> args;
        int status;
        std::string hint;     // a line standard error holds
        std::string mislead;  // a text it must not hold
    } rows[] = {
        {{"-i", "eth0"}, 1, "nodrix: the capture device is named with -d (--device), e.g. -d eth0.\n", ""},
        {{"-w", "out.pcap"}, 1, "nodrix: -r (--logfile-raw) writes the captured frames to a pcap file.\n", ""},
        {{"-n"}, 1, "nodrix: names are off unless -v (--verbose) is given; nothing to turn off.\n", ""},
        {{"-c", "5"},
         0,
         "Warning: ignored argument(s) \"5\": -c (--count) takes no number; to stop after 5 frames use "
         "--max-packets 5.\n",
         "-f \"5\""},
        // Other unknown letters and leftovers keep their usual messages.
        {{"-x"}, 1, "invalid option -- 'x'\n", "\nnodrix: "},
        {{"-c", "tcp"}, 0, "-f \"tcp\"", "--max-packets"},
    };
    for (const auto& row : rows) {
        std::vector<std::string> args{"-P", dir.file("in.pcap")};
        args.insert(args.end(), row.args.begin(), row.args.end());
        auto r = test::run_nodrix(args);
        EXPECT_EQ(r.status, row.status) << testing::PrintToString(row.args);
        EXPECT_NE(r.err.find(row.hint), std::string::npos) << r.err;
        if (!row.mislead.empty()) {
            EXPECT_EQ(r.err.find(row.mislead), std::string::npos) << r.err;
        }
    }
}

TEST(TcpdumpLetters, DeviceByItsListNumber) {
    // The numbers --list-interfaces prints name devices for -d.
    auto list = test::run_nodrix({"--list-interfaces"});
    ASSERT_EQ(list.status, 0);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(list.out, m, std::regex("(?:^|\n)([0-9]+)\\.lo[ \n]"))) << list.out;
    static const std::regex numbered("(?:^|\n)[0-9]+\\.");
    auto devices =
        std::distance(std::sregex_iterator(list.out.begin(), list.out.end(), numbered), std::sregex_iterator());

    std::string beyond = std::to_string(devices + 1);
    auto r = test::run_nodrix({"-d", beyond});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error: No device number " + beyond + "; --list-interfaces numbers " + std::to_string(devices) +
                         " device(s).\n");

    if (!test::running_as_root()) GTEST_SKIP() << "opening lo needs root";
    // A filter that does not compile ends the run right after the device line.
    r = test::run_nodrix({"-d", m[1].str(), "-f", "no such (( filter"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.rfind("Receive packet(s) on device: lo\n", 0), 0u) << r.out;
}

TEST(RawLog, AloneItRefusesACaptureFileWithOrWithoutATerminal) {
    test::temp_dir dir;
    auto capture = test::pcap_file({{plain_frame()}});
    const std::string path = dir.file("victim.pcap");
    test::write_file(dir.file("in.pcap"), test::pcap_file({{plain_frame()}, {plain_frame()}}));
    test::write_file(dir.file("t.snoop"), trace::snoop_file({trace::snoop_record(trace::ethernet_frame())}));
    const std::string refusal = "Error: " + path +
                                " is a capture file, and -r (--logfile-raw) would overwrite it with a raw log of "
                                "this run. To read it use -P " +
                                path +
                                "; to overwrite it name the capture source (-d DEVICE) or add "
                                "--force-overwrite.\n";
    struct {
        std::vector<std::string> args;
        int status;
        std::string err;
        bool intact;
    } rows[] = {
        {{"-r", path}, 1, refusal, true},
        {{"--logfile-raw", path, "--statistic"}, 1, refusal, true},
        {{"-r", path, "-f", "udp"}, 1, refusal, true},
        // A source named: no terminal here, so written as before.
        {{"-r", path, "-P", dir.file("in.pcap")}, 0, "", false},
        {{"-r", path, "-S", dir.file("t.snoop")}, 0, "", true},
    };
    for (const auto& row : rows) {
        test::write_file(path, capture);
        auto r = test::run_nodrix(row.args, 10);
        EXPECT_EQ(r.status, row.status) << testing::PrintToString(row.args) << r.err;
        EXPECT_EQ(r.err, row.err) << testing::PrintToString(row.args);
        EXPECT_EQ(test::read_file(path) == capture, row.intact) << testing::PrintToString(row.args);
    }
}

TEST(OptionLists, HelpAllCompletionAndManPageNameTheSameOptions) {
    auto help = test::run_nodrix({"-h"});
    auto all = test::run_nodrix({"--help-all"});
    ASSERT_EQ(all.status, 0);
    EXPECT_EQ(all.err, "");
    // The usual help text comes first, unchanged; then one line per option.
    ASSERT_EQ(all.out.rfind(help.err, 0), 0u) << all.out;
    std::string more = all.out.substr(help.err.size());
    ASSERT_EQ(more.rfind("\nMore options:\n", 0), 0u) << more;
    std::istringstream lines(more.substr(15));
    for (std::string line; std::getline(lines, line);)
        EXPECT_EQ(long_options_in(line).size(), 1u) << "one option per line: " << line;

    std::set<std::string> listed = long_options_in(all.out);
    std::set<std::string> completed = long_options_in(source_file("tools/completion/nodrix.bash"));
    std::string man = source_file("docs/nodrix.1");
    man = std::regex_replace(man, std::regex("\\\\-"), "-");
    std::set<std::string> documented = long_options_in(man);
    EXPECT_EQ(completed, listed);
    EXPECT_EQ(documented, listed);
    for (const char* name : {"--pcap-file", "--json", "--summary", "--user", "--pid-file", "--server-timeout",
                             "--tcp-stream-limit", "--list-interfaces", "--force-overwrite", "--help-all"})
        EXPECT_TRUE(listed.count(name)) << name;
    // That the program takes each of them: Documentation.CompletionAndManPageCoverEveryOption.
}

}  // namespace
