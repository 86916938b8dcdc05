// --where over a capture of mixed protocols (tests/data/where_frames.py):
// which frames each expression keeps, the same frames as tshark's display
// filter, the exact message of each kind of bad expression, and a kept
// frame that reads the same in every output, for any number of jobs.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "peer.h"
#include "support.h"

namespace {

class Where : public ::testing::Test {
   protected:
    static void SetUpTestSuite() {
        dir = new test::temp_dir;
        capture = dir->file("where.pcap");
        std::string command = test::python() + " " + NODRIX_SOURCE_DIR + "/tests/data/where_frames.py " + capture;
        ASSERT_EQ(system(command.c_str()), 0) << command;
    }
    static void TearDownTestSuite() { delete dir; }

    static test::temp_dir* dir;
    static std::string capture;
};
test::temp_dir* Where::dir = nullptr;
std::string Where::capture;

// The numbers of the frames `nodrix --where expr --json` writes.
std::string kept(const std::string& pcap, const std::string& expr, const std::vector<std::string>& more = {}) {
    std::vector<std::string> args = {"-P", pcap, "--json", "--where", expr};
    args.insert(args.end(), more.begin(), more.end());
    test::run_result r = test::run_nodrix(args);
    if (r.status != 0) return "status " + std::to_string(r.status) + ": " + r.err;
    static const std::regex frame(R"(^\{"frame":(\d+))");
    std::string numbers;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        if (std::regex_search(line, m, frame)) numbers += (numbers.empty() ? "" : " ") + m[1].str();
    }
    return numbers;
}

TEST_F(Where, KeepsTheFramesTheExpressionIsTrueFor) {
    const struct {
        const char* expr;
        const char* frames;
    } cases[] = {
        // Numbers, decimal and hex, and every comparison.
        {"tcp.dst_port == 443", "4 6 17 22 24"},
        {"tcp.dst_port == 0x1bb", "4 6 17 22 24"},
        {"tcp.dst_port = 443", "4 6 17 22 24"},
        {"tcp.dst_port != 443", "5 7 8 9 10 11 15 20"},
        {"tcp.dst_port < 100", "8 9 15 20"},
        {"tcp.dst_port <= 80", "8 9 15 20"},
        {"tcp.dst_port > 8000", "5 7 10 11"},
        {"tcp.dst_port >= 8443", "5 7 11"},
        {"tcp.src_port == 65535", "22"},
        {"tcp.flags == 0x12", "5"},
        {"udp.dst_port in {53 123}", "12 14 21"},
        {"udp.dst_port in {6000..7000, 33434}", "16 18"},
        {"ipv4.ttl < 64 and not icmp", "5 11 18"},
        // Addresses, with prefixes; a quoted address is an address too.
        {"ipv4.src == 192.0.2.1", "2 4 6 7 8 9 12 18 20 21 23"},
        {"ipv4.src == 192.0.2.0/24", "2 3 4 6 7 8 9 10 12 13 18 20 21 22 23"},
        {"ipv4.src == \"192.0.2.3\"", "10"},
        {"ipv4.dst in {192.0.2.2 203.0.113.0/30}", "2 17"},
        {"ipv6.src == 2001:db8::/32", "14 15"},
        {"ipv6.dst == 2001:DB8:0::53", "14"},
        {"ethernet.dst == ff:ff:ff:ff:ff:ff", "1"},
        {"ethernet.src == 02-00-5e-10-00-01", "3 5 11 13 19"},
        {"arp.sender_protocol == 192.0.2.1 and arp.opcode == 1", "1"},
        // Every header of a protocol counts; <proto>_inner only the inner ones.
        {"ipv4.dst == 10.9.9.2", "17"},
        {"ipv4_inner.src == 10.9.9.0/24", "17"},
        {"ipv4_inner.src == 203.0.113.1", ""},
        {"ipv4_inner", "17 24"},
        {"ipv4_inner.dst == 10.8.8.2 and udp.dst_port == 4789", "24"},
        // Presence of a protocol, a key, an array.
        {"icmp", "2 3 19"},
        {"gre", "17"},
        {"dns.answers", "13"},
        {"tls.server_name", "6 7"},
        {"not tcp and not udp", "1 2 3 19"},
        // Text: equality, contains, matches, sets, escapes.
        {"http.method in {\"GET\" \"HEAD\"}", "8 9"},
        {"http.method == \"POST\"", "10"},
        {"http.uri == \"\\x2findex.html\"", "8"},
        {"http.uri matches \"^/(index|api)\"", "8 10"},
        {"tls.server_name matches \"^api\\\\.\"", "6"},
        {"tls.server_name contains \"other\"", "7"},
        {"dns.questions.name contains \"example\"", "12 13"},
        {"dns.name == \"api.test.org\"", "14"},
        {"dns.questions.type == 28", "14"},
        {"dns.answers.address == 93.184.216.34", "13"},
        {"http.headers.value == \"api.example.com\"", "10"},
        {"tcp.flags_name contains \"rst\"", "20"},
        // Booleans, the frame's own keys, names and verdicts.
        {"dns.response == true", "13"},
        {"dns.response == 0", "12 14"},
        {"frame.number <= 3", "1 2 3"},
        {"frame.truncated", "23"},
        {"frame.wire_length > 100", "6 7 8 10 24"},
        {"icmp.type_name == \"Echo reply\"", "3"},
        {"ipv4.checksum_ok == false", ""},
        // Logic and precedence: not binds tightest, then and, then or.
        {"(tcp.dst_port == 80 or udp.dst_port == 53) and ipv4.src == 192.0.2.1", "8 9 12"},
        {"tcp.dst_port == 80 or udp.dst_port == 53 and ipv4.src == 192.0.2.1", "8 9 12"},
        {"!icmp && (arp || ntp)", "1 21"},
        {"not not arp", "1"},
        {"http.method == \"GET\" or http.status == 200", "8 11"},
    };
    for (const auto& c : cases) EXPECT_EQ(kept(capture, c.expr), c.frames) << c.expr;
}

// The same frames as tshark's display filter of the same meaning.
TEST_F(Where, AgreesWithTsharkDisplayFilters) {
    if (!test::tshark_available()) GTEST_SKIP() << "tshark is not installed";
    const struct {
        const char* ours;
        const char* tshark;
    } cases[] = {
        {"tcp.dst_port == 443", "tcp.dstport == 443"},
        {"tcp.dst_port == 0x1bb", "tcp.dstport == 0x1bb"},
        {"tcp.src_port == 443", "tcp.srcport == 443"},
        {"tcp.dst_port != 443", "tcp.dstport != 443"},
        {"tcp.dst_port < 100", "tcp.dstport < 100"},
        {"tcp.dst_port <= 80", "tcp.dstport <= 80"},
        {"tcp.dst_port > 8000", "tcp.dstport > 8000"},
        {"tcp.dst_port >= 8443", "tcp.dstport >= 8443"},
        {"tcp.flags == 0x12", "tcp.flags == 0x012"},
        {"udp.dst_port in {53 123}", "udp.dstport in {53, 123}"},
        {"udp.dst_port in {6000..7000 33434}", "udp.dstport in {6000..7000, 33434}"},
        {"ipv4.ttl < 64 and not icmp", "ip.ttl < 64 and not icmp"},
        {"ipv4.src == 192.0.2.1", "ip.src == 192.0.2.1"},
        {"ipv4.src == 192.0.2.0/24", "ip.src == 192.0.2.0/24"},
        {"ipv4.dst == 10.9.9.2", "ip.dst == 10.9.9.2"},
        {"ipv6.src == 2001:db8::/32", "ipv6.src == 2001:db8::/32"},
        {"ipv6.dst == 2001:db8::53", "ipv6.dst == 2001:db8::53"},
        {"ipv6.hop_limit == 255", "ipv6.hlim == 255"},
        {"ethernet.src == 00:00:0c:12:34:56", "eth.src == 00:00:0c:12:34:56"},
        {"ethernet.dst == ff:ff:ff:ff:ff:ff", "eth.dst == ff:ff:ff:ff:ff:ff"},
        {"arp.opcode == 1", "arp.opcode == 1"},
        {"arp.sender_protocol == 192.0.2.1", "arp.src.proto_ipv4 == 192.0.2.1"},
        {"icmp.type == 8", "icmp.type == 8"},
        {"icmp.type == 3 and icmp.code == 3", "icmp.type == 3 and icmp.code == 3"},
        {"icmp", "icmp"},
        {"dns", "dns"},
        {"dns.questions.name contains \"example\"", "dns.qry.name contains \"example\""},
        {"dns.questions.type == 28", "dns.qry.type == 28"},
        {"dns.answers.address == 93.184.216.34", "dns.a == 93.184.216.34"},
        {"dns.response == true", "dns.flags.response == 1"},
        {"tls.server_name matches \"^api\\\\.\"", "tls.handshake.extensions_server_name matches \"^api\\\\.\""},
        {"tls.server_name contains \"other\"", "tls.handshake.extensions_server_name contains \"other\""},
        {"http.method in {\"GET\" \"HEAD\"}", "http.request.method in {\"GET\", \"HEAD\"}"},
        {"http.uri matches \"^/index\"", "http.request.uri matches \"^/index\""},
        {"http.status == 200", "http.response.code == 200"},
        {"http.headers.value == \"api.example.com\"", "http.host == \"api.example.com\""},
        {"vlan.vlan_id == 100", "vlan.id == 100"},
        {"gre", "gre"},
        {"ntp.mode == 3", "ntp.flags.mode == 3"},
        {"udp and not dns", "udp and not dns"},
        {"frame.wire_length > 100", "frame.len > 100"},
        {"frame.number <= 3", "frame.number <= 3"},
        // tshark shows no TCP layer for the cut frame 23.
        {"not tcp and not udp and frame.number < 23", "not tcp and not udp and frame.number < 23"},
        {"(tcp.dst_port == 80 or udp.dst_port == 53) and ipv4.src == 192.0.2.1",
         "(tcp.dstport == 80 or udp.dstport == 53) and ip.src == 192.0.2.1"},
    };
    for (const auto& c : cases) {
        std::string theirs;
        for (const auto& row : test::tshark_fields(capture, {"frame.number"}, c.tshark))
            theirs += (theirs.empty() ? "" : " ") + row.at(0);
        // Every case keeps frames: an empty answer is a filter tshark refused.
        EXPECT_NE(theirs, "") << c.tshark;
        EXPECT_EQ(kept(capture, c.ours), theirs) << c.ours << "  vs tshark -Y '" << c.tshark << "'";
    }
}

// Each line of the data file: the expression, a tab, the whole message.
TEST_F(Where, BadExpressionsEndTheRunWithOneMessage) {
    std::ifstream in(std::string(NODRIX_SOURCE_DIR) + "/tests/data/where_errors.txt");
    int cases = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        size_t tab = line.find('\t');
        ASSERT_NE(tab, std::string::npos) << line;
        std::string expr = line.substr(0, tab), message = line.substr(tab + 1);
        test::run_result r = test::run_nodrix({"-P", capture, "--where", expr});
        EXPECT_EQ(r.status, 1) << expr;
        EXPECT_EQ(r.err, "nodrix: --where: " + message + "\n") << expr;
        EXPECT_EQ(r.out, "") << expr;
        ++cases;
    }
    EXPECT_GE(cases, 10);
}

// The text of a kept frame is the text it has without --where, byte for
// byte, and the run's first and last lines stay; frames keep their numbers.
// A vendor looked up for the judgement does not reach the text.
TEST_F(Where, TextOfKeptFramesIsUnchanged) {
    for (const char* options : {"", "-v --expand-all -R"})
        for (const char* expr :
             {"ipv4.dst == 198.51.100.7", "ethernet.src_vendor == \"Cisco\" and ipv4.dst == 198.51.100.7"}) {
            SCOPED_TRACE(std::string(options) + " " + expr);
            std::string base = std::string(NODRIX_BINARY) + " -P " + capture + " " + options;
            test::run_result all = test::shell(base);
            test::run_result some = test::shell(base + " --where '" + expr + "'");
            ASSERT_EQ(all.status, 0);
            ASSERT_EQ(some.status, 0);
            // Where each frame's text begins in the whole output.
            std::vector<size_t> starts(26, std::string::npos);
            static const std::regex frame_line(R"(\n[0-9:.]+ - Received frame (\d+)\()");
            for (std::sregex_iterator m(all.out.begin(), all.out.end(), frame_line), end; m != end; ++m)
                starts[std::stoul((*m)[1])] = static_cast<size_t>(m->position());
            starts[25] = all.out.find("\nRead pcap dump file completed");
            auto block = [&](int n) { return all.out.substr(starts[n], starts[n + 1] - starts[n]); };
            std::string expected = all.out.substr(0, starts[1]) + block(4) + block(6) + block(22) + block(23) +
                                   all.out.substr(starts[25]);
            EXPECT_EQ(some.out, expected);
        }
}

// Every output, the raw log and the counters see only the kept frames,
// whatever the number of decoding threads.
TEST_F(Where, EveryOutputAndJobCountAgree) {
    const char* expr = "tcp or dns.questions.name contains \"example\"";
    for (const char* mode : {"", "--summary", "--json", "--statistic"}) {
        SCOPED_TRACE(mode);
        std::string one;
        for (const char* jobs : {"1", "2", "4"}) {
            std::string log = dir->file(std::string("kept") + jobs + ".pcap");
            std::vector<std::string> args = {"-P", capture, "--jobs",           jobs, "--where", expr,
                                             "-r", log,     "--force-overwrite"};
            if (*mode) args.push_back(mode);
            test::run_result r = test::run_nodrix(args);
            ASSERT_EQ(r.status, 0) << r.err;
            // The report's clock times differ from run to run.
            std::string out = std::regex_replace(r.out, std::regex("(Start|End) time:\t[^\n]*"), "$1 time:");
            if (one.empty())
                one = out;
            else
                EXPECT_EQ(out, one) << "--jobs " << jobs;
            // The raw log holds the 14 frames with a TCP header (the cut
            // frame's and the one inside VXLAN included) and 2 DNS ones.
            EXPECT_EQ(test::pcap_records(test::read_file(log)), 16);
        }
        // The cut frame has no whole TCP header to count.
        if (std::string(mode) == "--statistic") {
            EXPECT_NE(one.find("TCP\t\t13("), std::string::npos) << one;
            EXPECT_NE(one.find("UDP\t\t3("), std::string::npos) << one;
            EXPECT_NE(one.find("ICMPv4\t\t0("), std::string::npos) << one;
        }
    }
    // The raw log read back is the kept frames' summary again.
    std::string log = dir->file("kept1.pcap");
    test::run_result again = test::run_nodrix({"-P", log, "--summary"});
    test::run_result kept_summary = test::run_nodrix({"-P", capture, "--summary", "--where", expr});
    auto lines = [](const std::string& out) {
        std::string frames;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);)
            if (line.size() > 2 && line[2] == ':') frames += line + "\n";
        return frames;
    };
    EXPECT_EQ(lines(again.out), lines(kept_summary.out));
    EXPECT_EQ(lines(again.out).size() > 0, true);
}

}  // namespace
