// --json and --summary over whole captures: every JSON line parses, the
// summary has one line per frame, and JSON values agree with the text.
#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <filesystem>
#include <map>
#include <regex>
#include <sstream>

#include "capture/trace_files.h"
#include "peer.h"
#include "support.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

long frames_in(const std::string& path) {
    char errbuf[PCAP_ERRBUF_SIZE];
    pcap_t* p = pcap_open_offline(path.c_str(), errbuf);
    if (!p) return -1;
    long n = 0;
    pcap_pkthdr* header;
    const u_char* data;
    while (pcap_next_ex(p, &header, &data) == 1) ++n;
    pcap_close(p);
    return n;
}

// The captures the tests have: the sample, the benchmark mix, and the pcap files of the fuzz corpus (behind their
// three bytes of switches).
std::vector<std::string> captures(const test::temp_dir& dir) {
    std::vector<std::string> files = {std::string(NODRIX_SOURCE_DIR) + "/samples/sample.pcap"};
    std::string gen = std::string(NODRIX_SOURCE_DIR) + "/bench/gen_mix.py";
    std::string mix = dir.file("mix.pcap");
    std::string command = "python3 " + gen + " " + mix + " 3000 >/dev/null";
    EXPECT_EQ(system(command.c_str()), 0) << command;
    files.push_back(mix);
    int i = 0;
    for (const auto& entry : fs::directory_iterator(fs::path(NODRIX_SOURCE_DIR) / "fuzz" / "corpus" / "pcap_file")) {
        test::bytes input = test::read_file(entry.path().string());
        if (input.size() < 27) continue;
        std::string path = dir.file("corpus" + std::to_string(i++) + ".pcap");
        test::write_file(path, test::bytes(input.begin() + 3, input.end()));
        files.push_back(path);
    }
    return files;
}

TEST(StructuredOutput, EveryJsonLineParsesForEveryCaptureAndOptionSet) {
    test::temp_dir dir;
    const std::vector<std::vector<std::string>> option_sets = {
        {},
        {"--calc-checksums", "--print-raw-hex"},
        {"--expand-all", "--verbose", "--print-tcp-hex", "--print-udp-text", "--statistic"},
        {"--print-ip-hex", "--print-pppoe-hex", "--print-tcp-text", "--print-udp-hex"},
    };
    int files = 0;
    for (const std::string& file : captures(dir)) {
        long frames = frames_in(file);
        for (const auto& options : option_sets) {
            std::vector<std::string> args = {"-P", file, "--json"};
            args.insert(args.end(), options.begin(), options.end());
            test::run_result r = test::run_nodrix(args);
            SCOPED_TRACE(file + " " + std::to_string(options.size()));
            std::vector<std::string> lines = lines_of(r.out);
            long objects = 0;
            for (const std::string& line : lines) {
                ASSERT_TRUE(test::valid_json(line)) << line;
                if (line.rfind("{\"frame\":", 0) == 0) ++objects;
            }
            bool statistics = std::find(options.begin(), options.end(), "--statistic") != options.end();
            if (statistics) {
                EXPECT_EQ(lines.back().rfind("{\"statistics\":{", 0), 0u);
            }
            // A damaged file ends early with status 1; an intact one gives
            // one object per frame.
            if (r.status == 0 && frames >= 0) {
                EXPECT_EQ(objects, frames);
            }
            EXPECT_TRUE(r.out.empty() || r.out.back() == '\n');
        }
        ++files;
    }
    EXPECT_GT(files, 10);
}

TEST(StructuredOutput, SummaryHasOneLinePerFrame) {
    test::temp_dir dir;
    for (const std::string& file : captures(dir)) {
        long frames = frames_in(file);
        if (frames < 0) continue;
        test::run_result r = test::run_nodrix({"-P", file, "--summary", "--calc-checksums"});
        if (r.status != 0) continue;
        SCOPED_TRACE(file);
        // The summary lines on standard output; the start-up and closing
        // lines on standard error.
        EXPECT_EQ(static_cast<long>(lines_of(r.out).size()), frames);
        EXPECT_EQ(r.err.rfind("Read packet(s) from file: " + file + ".\n", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("\nRead pcap dump file completed.\n\nExit.\n"), std::string::npos);
    }
}

TEST(StructuredOutput, TraceFilesAndTheLogsWorkToo) {
    test::temp_dir dir;
    std::string ipt = dir.file("t.ipt"), snoop = dir.file("t.snoop");
    test::write_file(ipt, trace::iptrace_file({trace::iptrace_record(trace::ethernet_frame()),
                                               trace::iptrace_record(trace::ethernet_frame(80))}));
    test::write_file(snoop, trace::snoop_file({trace::snoop_record(trace::ethernet_frame())}));
    test::run_result r = test::run_nodrix({"-I", ipt, "--json"});
    std::vector<std::string> lines = lines_of(r.out);
    ASSERT_EQ(lines.size(), 2u) << r.out;
    for (const auto& line : lines) EXPECT_TRUE(test::valid_json(line)) << line;
    EXPECT_NE(lines[1].find("\"link_type\":1,\"stack\":[\"ethernet\"],\"ethernet\":{"), std::string::npos) << lines[1];
    r = test::run_nodrix({"-S", snoop, "--summary"});
    lines = lines_of(r.out);
    ASSERT_EQ(lines.size(), 1u) << r.out;
    EXPECT_EQ(lines[0].rfind("12:34:56.000000 02:00:00:00:00:01 > 02:00:00:00:00:02 ", 0), 0u) << r.out;
    EXPECT_EQ(r.err.rfind("Read packet(s) from file: " + snoop + ".\n", 0), 0u) << r.err;

    // A text log holds the lines; the raw log still gets every frame.
    std::string log = dir.file("log.txt"), raw = dir.file("raw.pcap");
    std::string sample = std::string(NODRIX_SOURCE_DIR) + "/samples/sample.pcap";
    r = test::run_nodrix({"-P", sample, "--json", "-l", log, "-r", raw});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    long json_lines = 0;
    test::bytes logged = test::read_file(log);
    for (const auto& line : lines_of(std::string(logged.begin(), logged.end())))
        if (line.rfind("{\"frame\":", 0) == 0) {
            EXPECT_TRUE(test::valid_json(line)) << line;
            ++json_lines;
        }
    EXPECT_EQ(json_lines, 10);
    EXPECT_EQ(frames_in(raw), 10);
}

TEST(StructuredOutput, JsonAndSummaryTogetherAreRefused) {
    test::run_result r = test::run_nodrix({"-P", "x.pcap", "--json", "--summary"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("--json and --summary cannot be used together"), std::string::npos) << r.err;
}

// The text of one frame for each frame number.
std::map<int, std::string> text_frames(const std::string& text) {
    std::map<int, std::string> frames;
    static const std::regex frame_line(R"(Received frame (\d+)\()");
    auto begin = std::sregex_iterator(text.begin(), text.end(), frame_line);
    std::vector<std::pair<int, size_t>> starts;
    for (auto it = begin; it != std::sregex_iterator(); ++it)
        starts.push_back({std::stoi((*it)[1]), static_cast<size_t>(it->position())});
    for (size_t i = 0; i < starts.size(); ++i) {
        size_t end = i + 1 < starts.size() ? starts[i + 1].second : text.size();
        frames[starts[i].first] = text.substr(starts[i].second, end - starts[i].second);
    }
    return frames;
}

std::string first_match(const std::string& text, const char* pattern) {
    std::smatch m;
    std::regex re(pattern);
    return std::regex_search(text, m, re) ? m[1].str() : "";
}

TEST(StructuredOutput, JsonValuesAgreeWithTheText) {
    test::temp_dir dir;
    std::string gen = std::string(NODRIX_SOURCE_DIR) + "/bench/gen_mix.py";
    std::string file = dir.file("mix.pcap");
    ASSERT_EQ(system(("python3 " + gen + " " + file + " 600 >/dev/null").c_str()), 0);
    std::vector<std::string> common = {"-P", file, "--expand-all", "--verbose", "--calc-checksums"};
    test::run_result text = test::run_nodrix(common);
    std::vector<std::string> json_args = common;
    json_args.push_back("--json");
    std::vector<std::string> lines = lines_of(test::run_nodrix(json_args).out);
    std::map<int, std::string> frames = text_frames(text.out);
    ASSERT_EQ(frames.size(), lines.size());
    struct check {
        const char* proto;
        const char* key;
        const char* pattern;
    };
    const check checks[] = {
        {"ethernet", "src", R"(MAC Src: (\S+))"},
        {"ipv4", "src", R"(Src IP: (\d+\.\d+\.\d+\.\d+))"},
        {"ipv4", "dst", R"(Dst IP: (\d+\.\d+\.\d+\.\d+))"},
        {"ipv4", "ttl", R"(TTL: (\d+))"},
        {"ipv4", "id", R"(, ID: (\d+))"},
        {"ipv4", "protocol_name", R"(Protocol: \d+ \(([^)]+)\))"},
        {"ipv6", "hop_limit", R"(Hop Limit: (\d+))"},
        {"tcp", "src_port", R"(- TCP Header -\n  Src Port: (\d+))"},
        {"tcp", "dst_port", R"(- TCP Header -\n  Src Port: \d+ \([^)]*\), Dst Port: (\d+))"},
        {"tcp", "seq", R"(\n  Seq\.: (\d+))"},
        {"tcp", "ack", R"(Ack-Seq\.: (\d+))"},
        {"tcp", "window", R"(Win-Size: (\d+))"},
        {"udp", "length", R"(- UDP Header -\n.*\n  Length: (\d+))"},
        {"icmp", "type_name", R"(- ICMPv4 Header -\n  Type: \d+ \(([^)]+)\))"},
    };
    int compared = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& frame = frames[static_cast<int>(i + 1)];
        for (const check& c : checks) {
            std::string expected = first_match(frame, c.pattern);
            if (expected.empty()) continue;
            EXPECT_EQ(test::json_field(lines[i], c.proto, c.key), expected) << c.proto << "." << c.key << "\n"
                                                                            << frame << "\n"
                                                                            << lines[i];
            ++compared;
        }
        // Every verdict of the text is a verdict in JSON, and the same.
        size_t correct = 0, incorrect = 0, ok = 0, not_ok = 0;
        for (size_t at = 0; (at = frame.find("(correct checksum)", at)) != std::string::npos; ++at) ++correct;
        for (size_t at = 0; (at = frame.find("(incorrect checksum", at)) != std::string::npos; ++at) ++incorrect;
        for (size_t at = 0; (at = lines[i].find("_ok\":true", at)) != std::string::npos; ++at) ++ok;
        for (size_t at = 0; (at = lines[i].find("_ok\":false", at)) != std::string::npos; ++at) ++not_ok;
        EXPECT_EQ(correct, ok) << frame;
        EXPECT_EQ(incorrect, not_ok) << frame;
    }
    EXPECT_GT(compared, 100);
}

}  // namespace
