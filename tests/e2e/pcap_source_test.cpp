#include <gtest/gtest.h>

#include <regex>

#include "support.h"

namespace {

using test::run_nodrix;

const std::string completed = "\nRead pcap dump file completed.\n\nExit.\n";

// Ethernet frames with EtherTypes nothing decodes further.
test::bytes plain_frame(uint8_t last = 0) {
    auto f = test::hex("020000000002 020000000001 88b5 0001 0203");
    f.back() = last;
    return f;
}

TEST(PcapFile, FrameLinesTimesAndLengths) {
    test::temp_dir dir;
    std::vector<test::pcap_record> records = {
        {plain_frame(), 86399, 500000},
        {plain_frame(), 1700000000, 7, 1514},
        {plain_frame(), 0, 999999, -1, 13},
    };
    test::write_file(dir.file("t.pcap"), test::pcap_file(records));
    auto r = run_nodrix({"-P", dir.file("t.pcap")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "Read packet(s) from file: " + dir.file("t.pcap") +
                         ".\n"
                         "\n23:59:59.500000 - Received frame 1(18/18 bytes length)...\n\n- Ethernet Header -\n"
                         "\n22:13:20.000007 - Received frame 2(18/1514 bytes length)...\n\n- Ethernet Header -\n"
                         "\n00:00:00.999999 - Received frame 3(13/18 bytes length)...\n\n- Ethernet Header -\n"
                         "Error: Captured data length(13 bytes) < Ethernet packet header length.\n" +
                         completed);
}

TEST(PcapFile, MaxPacketsBeepAndRawHex) {
    test::temp_dir dir;
    test::write_file(dir.file("t.pcap"),
                     test::pcap_file({{plain_frame(1), 45296}, {plain_frame(2), 45297}, {plain_frame(3), 45298}}));
    auto r = run_nodrix({"-P", dir.file("t.pcap"), "--max-packets", "2", "--beep-on", "-R"});
    EXPECT_EQ(r.status, 0);
    std::string frame =
        "\n- Ethernet Header -\n\n0x0001: 02 00 00 00 00 02 02 00 00 00 00 01\n0x0002: 88 b5 00 01 02 0";
    EXPECT_EQ(r.out, "Read packet(s) from file: " + dir.file("t.pcap") + ".\n\a" + test::frame_line(1, 18, 18) + frame +
                         "1\n\a" + test::frame_line(2, 18, 18) + frame + "2\n" + completed);
}

TEST(PcapFile, RawLogReadsBackIdentically) {
    test::temp_dir dir;
    std::vector<test::pcap_record> records;
    for (uint8_t i = 0; i < 5; ++i) records.push_back({plain_frame(i), 1000u + i, i});
    test::write_file(dir.file("in.pcap"), test::pcap_file(records));
    auto first = run_nodrix({"-P", dir.file("in.pcap"), "-r", dir.file("raw.pcap"), "-v", "--expand-all"});
    ASSERT_EQ(first.status, 0);
    auto second = run_nodrix({"-P", dir.file("raw.pcap"), "-v", "--expand-all"});
    ASSERT_EQ(second.status, 0);
    auto strip = [&](std::string s, const std::string& path) { return s.substr(s.find(path) + path.size()); };
    EXPECT_EQ(strip(first.out, "in.pcap"), strip(second.out, "raw.pcap"));
    // Same records as the input, byte for byte behind the file header.
    auto in = test::read_file(dir.file("in.pcap"));
    auto raw = test::read_file(dir.file("raw.pcap"));
    ASSERT_EQ(in.size(), raw.size());
    EXPECT_TRUE(std::equal(in.begin() + 24, in.end(), raw.begin() + 24));
}

TEST(PcapFile, FailuresAndLinkTypes) {
    test::temp_dir dir;
    auto missing = run_nodrix({"-P", dir.file("missing.pcap")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err.rfind("Error: Can't open pcap file " + dir.file("missing.pcap") + ", because: ", 0), 0u);
    EXPECT_TRUE(missing.err.ends_with("\n\n"));

    // ARCnet, and the BSD/OS SLIP and PPP types that nothing decodes.
    for (uint32_t link_type : {7u, 15u, 16u}) {
        test::write_file(dir.file("l.pcap"), test::pcap_file({{plain_frame()}}, link_type));
        auto r = run_nodrix({"-P", dir.file("l.pcap")});
        EXPECT_EQ(r.status, 1) << link_type;
        EXPECT_EQ(r.err, "Error: Unknown device/datalink type " + std::to_string(link_type) + "\n");
        EXPECT_EQ(r.out, "Read packet(s) from file: " + dir.file("l.pcap") + ".\n.\n\n");
    }

    test::write_file(dir.file("f.pcap"), test::pcap_file({{plain_frame()}}));
    auto bad_filter = run_nodrix({"-P", dir.file("f.pcap"), "-f", "no such words"});
    EXPECT_EQ(bad_filter.status, 1);
    EXPECT_EQ(bad_filter.err.rfind("Error: Can't compile(pcap_compile) filter rule, because: ", 0), 0u);

    auto bad_raw_log = run_nodrix({"-P", dir.file("f.pcap"), "-r", dir.file("no/such/dir/x.pcap")});
    EXPECT_EQ(bad_raw_log.status, 1);
    EXPECT_EQ(bad_raw_log.err.rfind("Error: Can't open(pcap_dump_open) logfile, because: ", 0), 0u);
}

TEST(PcapFile, FiltersSelectFrames) {
    test::temp_dir dir;
    auto other = test::hex("020000000002 020000000001 88b6 0001 0203 0000");
    test::write_file(dir.file("f.pcap"), test::pcap_file({{plain_frame()}, {other}, {plain_frame()}}));
    for (const char* option : {"-f", "-F"}) {
        auto r = run_nodrix({"-P", dir.file("f.pcap"), option, "ether proto 0x88b6"});
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.out.find("Filter rule: ether proto 0x88b6\n"), std::string::npos);
        EXPECT_NE(r.out.find("Received frame 1(20/20 bytes length)"), std::string::npos);
        EXPECT_EQ(r.out.find("Received frame 2"), std::string::npos);
    }
}

TEST(Statistics, ReportCountsAndQuietModes) {
    test::temp_dir dir;
    test::write_file(dir.file("s.pcap"),
                     test::pcap_file({{plain_frame()}, {plain_frame()}, {test::hex("ffffffffffff0200000000")}}));
    auto r = run_nodrix({"-P", dir.file("s.pcap"), "--statistic", "--quiet"});
    EXPECT_EQ(r.status, 0);
    // Only the report survives --quiet; the closing lines stay silent.
    EXPECT_EQ(r.out.rfind("\n\n---------- Statistics ----------\n\nStart time:\t", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\n--- Packets counted ---\nEthernet II\t2(1|)\t\t802.3raw\t0\n"), std::string::npos);
    EXPECT_TRUE(r.out.ends_with("BGP\t\t0\t\tMPLS\t\t0\nRSVP\t\t0\t\tMSDP\t\t0\nGSMP\t\t0\n" + completed));

    auto silent = run_nodrix({"-P", dir.file("s.pcap"), "--statistic", "--really-quiet"});
    EXPECT_EQ(silent.status, 0);
    EXPECT_EQ(silent.out, "");

    // Within the run's first second the rate is not known yet; a slow
    // (sanitizer) run may cross into the next second and show a rate.
    auto plain = run_nodrix({"-P", dir.file("s.pcap"), "--statistic"});
    EXPECT_TRUE(std::regex_search(plain.out, std::regex(" Utilization: (n\\.a\\.|[0-9]+ B/s)\n"))) << plain.out;
}

TEST(TextLog, OutputAndClosingLinesGoToTheLog) {
    test::temp_dir dir;
    test::write_file(dir.file("s.pcap"), test::pcap_file({{plain_frame()}}));
    auto r = run_nodrix({"-P", dir.file("s.pcap"), "-l", dir.file("log.txt")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    auto log = test::read_file(dir.file("log.txt"));
    std::string text(log.begin(), log.end());
    EXPECT_EQ(text.rfind("Starting logging on ", 0), 0u);
    EXPECT_NE(text.find("(local time, not GMT)\nRead packet(s) from file: "), std::string::npos);
    EXPECT_TRUE(text.ends_with(completed)) << text;

    // A log that cannot be opened leaves the output on the terminal.
    auto bad = run_nodrix({"-P", dir.file("s.pcap"), "-l", dir.file("no/such/dir/log.txt")});
    EXPECT_EQ(bad.status, 0);
    EXPECT_EQ(bad.err, "Error: Can't open logfile " + dir.file("no/such/dir/log.txt") + ".\n");
    EXPECT_EQ(bad.out.rfind("Starting logging on ", 0), 0u);
    EXPECT_TRUE(bad.out.ends_with(completed));
}

}  // namespace
