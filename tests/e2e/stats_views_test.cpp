// --stats and --follow over a capture of known streams
// (tests/data/stream_frames.py) and the --where capture: the same frames and
// bytes per row as tshark's -z tables, the same followed payload bytes as
// tshark's follow, the same output for any number of jobs, and the exact
// text of the views and of a followed stream.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "peer.h"
#include "support.h"

namespace {

class StatsViews : public ::testing::Test {
   protected:
    static void SetUpTestSuite() {
        dir = new test::temp_dir;
        streams = dir->file("streams.pcap");
        mixed = dir->file("where.pcap");
        for (const auto& [script, out] :
             {std::pair{"stream_frames.py", streams}, std::pair{"where_frames.py", mixed}}) {
            std::string command = test::python() + " " + NODRIX_SOURCE_DIR + "/tests/data/" + script + " " + out;
            ASSERT_EQ(system(command.c_str()), 0) << command;
        }
    }
    static void TearDownTestSuite() { delete dir; }

    static test::temp_dir* dir;
    static std::string streams, mixed;
};
test::temp_dir* StatsViews::dir = nullptr;
std::string StatsViews::streams, StatsViews::mixed;

std::string expected(const std::string& name) {
    std::ifstream in(std::string(NODRIX_SOURCE_DIR) + "/tests/data/" + name);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Rows keyed by their two ends in a fixed order, the counts seen from the
// first end: "frames there, bytes there, frames back, bytes back".
using rows = std::map<std::string, std::string>;

void add_row(rows& into, const std::string& a, const std::string& b, const std::string& fab, const std::string& bab,
             const std::string& fba, const std::string& bba) {
    if (a <= b)
        into[a + " <-> " + b] = fab + " " + bab + " " + fba + " " + bba;
    else
        into[b + " <-> " + a] = fba + " " + bba + " " + fab + " " + bab;
}

std::string json_value(const std::string& object, const std::string& key) {
    std::smatch m;
    if (std::regex_search(object, m, std::regex("\"" + key + "\":(\"([^\"]*)\"|[-0-9.]+)")))
        return m[2].matched ? m[2].str() : m[1].str();
    return "";
}

// The objects of the array `key` in a {"stats":...} line.
std::vector<std::string> json_rows(const std::string& line, const std::string& key) {
    std::vector<std::string> objects;
    size_t at = line.find("\"" + key + "\":[");
    if (at == std::string::npos) return objects;
    at = line.find('[', at) + 1;
    while (at < line.size() && line[at] == '{') {
        size_t end = line.find('}', at);
        objects.push_back(line.substr(at, end - at + 1));
        at = end + 1;
        if (line[at] == ',') ++at;
    }
    return objects;
}

std::string endpoint(const std::string& address, const std::string& port) {
    return address.find(':') == std::string::npos ? address + ":" + port : address + ":" + port;
}

// nodrix's tables, from its JSON lines.
std::map<std::string, rows> ours(const std::string& pcap) {
    test::run_result r = test::run_nodrix({"-P", pcap, "--json", "--stats", "conversations,endpoints,protocols"});
    std::map<std::string, rows> tables;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
        std::string view = json_value(line, "stats");
        if (view == "conversations") {
            for (const char* table : {"ipv4", "ipv6", "tcp", "udp"}) {
                bool ports = table[0] == 't' || table[0] == 'u';
                for (const std::string& o : json_rows(line, table)) {
                    std::string a = json_value(o, "a"), b = json_value(o, "b");
                    if (ports) a = endpoint(a, json_value(o, "a_port")), b = endpoint(b, json_value(o, "b_port"));
                    add_row(tables[std::string("conv ") + table], a, b, json_value(o, "frames_ab"),
                            json_value(o, "bytes_ab"), json_value(o, "frames_ba"), json_value(o, "bytes_ba"));
                }
            }
        } else if (view == "endpoints") {
            for (const std::string& o : json_rows(line, "ipv4"))
                tables["endpoints"][json_value(o, "address")] =
                    json_value(o, "frames_sent") + " " + json_value(o, "bytes_sent") + " " +
                    json_value(o, "frames_received") + " " + json_value(o, "bytes_received");
        } else if (view == "protocols") {
            // Paths of tshark's names, for the layers both name alike.
            static const std::map<std::string, std::string> names = {
                {"ethernet", "eth"}, {"ipv4", "ip"},   {"ipv6", "ipv6"}, {"tcp", "tcp"},  {"udp", "udp"},
                {"arp", "arp"},      {"icmp", "icmp"}, {"dns", "dns"},   {"smtp", "smtp"}};
            for (const std::string& o : json_rows(line, "protocols")) {
                std::string joined;
                std::istringstream path(json_value(o, "path"));
                for (std::string name; std::getline(path, name, ':');) {
                    auto known = names.find(name);
                    joined += (joined.empty() ? "" : ":") + (known == names.end() ? "?" + name : known->second);
                }
                tables["protocols"][joined] = json_value(o, "frames") + " " + json_value(o, "bytes");
            }
        }
    }
    return tables;
}

// tshark's tables for the same views.
std::map<std::string, rows> theirs(const std::string& pcap) {
    test::run_result r = test::shell("tshark -n -r " + pcap +
                                     " -q -z conv,ip -z conv,ipv6 -z conv,tcp -z conv,udp -z endpoints,ip -z io,phs"
                                     " 2>/dev/null");
    std::map<std::string, rows> tables;
    static const std::regex conv(R"(^(\S+)\s+<->\s+(\S+)\s+(\d+)\s+([\d,]+) bytes\s+(\d+)\s+([\d,]+) bytes)");
    static const std::regex point(R"(^(\S+)\s+\d+\s+\d+\s+(\d+)\s+(\d+)\s+(\d+)\s+(\d+)\s*$)");
    static const std::regex phs(R"(^( *)(\S+)\s+frames:(\d+) bytes:(\d+))");
    auto plain = [](std::string n) {
        n.erase(std::remove(n.begin(), n.end(), ','), n.end());
        return n;
    };
    std::string table;
    std::vector<std::string> path;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
        if (line == "IPv4 Conversations") table = "conv ipv4";
        if (line == "IPv6 Conversations") table = "conv ipv6";
        if (line == "TCP Conversations") table = "conv tcp";
        if (line == "UDP Conversations") table = "conv udp";
        if (line == "IPv4 Endpoints") table = "endpoints";
        if (line == "Protocol Hierarchy Statistics") table = "protocols";
        std::smatch m;
        if (table.rfind("conv", 0) == 0 && std::regex_search(line, m, conv)) {
            // tshark's "<-" column counts what B sent, "->" what A sent.
            add_row(tables[table], m[1], m[2], m[5], plain(m[6]), m[3], plain(m[4]));
        } else if (table == "endpoints" && std::regex_search(line, m, point)) {
            tables[table][m[1]] = m[2].str() + " " + m[3].str() + " " + m[4].str() + " " + m[5].str();
        } else if (table == "protocols" && std::regex_search(line, m, phs)) {
            path.resize(m[1].length() / 2);
            path.push_back(m[2]);
            std::string joined;
            for (const auto& p : path) joined += (joined.empty() ? "" : ":") + p;
            tables[table][joined] = m[3].str() + " " + m[4].str();
        }
    }
    return tables;
}

TEST_F(StatsViews, AgreeWithTsharkTables) {
    if (!test::tshark_available()) GTEST_SKIP() << "tshark is not installed";
    const struct {
        std::string pcap;
        std::vector<const char*> tables;
        bool protocols;
    } cases[] = {
        {streams, {"conv ipv4", "conv ipv6", "conv tcp", "conv udp", "endpoints"}, true},
        {std::string(NODRIX_SOURCE_DIR) + "/samples/sample.pcap",
         {"conv ipv4", "conv ipv6", "conv tcp", "conv udp", "endpoints"},
         true},
        // Inside GRE and VXLAN tunnels every IP, TCP and UDP header counts
        // (tshark's hierarchy names the tunnels' layers its own way).
        {mixed, {"conv ipv4", "conv ipv6", "conv tcp", "conv udp", "endpoints"}, false},
    };
    for (const auto& c : cases) {
        std::map<std::string, rows> mine = ours(c.pcap), peer = theirs(c.pcap);
        for (const char* table : c.tables) EXPECT_EQ(mine[table], peer[table]) << c.pcap << ": " << table;
        if (!c.protocols) continue;
        // Every level tshark shows that nodrix names alike.
        EXPECT_FALSE(peer["protocols"].empty()) << c.pcap;
        for (const auto& [path, counts] : peer["protocols"]) {
            if (path.find("http") != std::string::npos || path.find("mdns") != std::string::npos) continue;
            EXPECT_EQ(mine["protocols"][path], counts) << c.pcap << ": " << path;
        }
    }
}

// The views in text, exactly; --where narrows every table alike.
TEST_F(StatsViews, PrintTheTablesOfTheShownFrames) {
    const struct {
        std::vector<std::string> args;
        const char* expected;
    } cases[] = {
        {{"-P", streams, "--quiet", "--stats", "conversations,endpoints,protocols,io,0.5,dns,http,tls"},
         "stats_views_streams.txt"},
        {{"-P", mixed, "--quiet", "--stats", "dns,http,tls"}, "stats_views_applications.txt"},
        {{"-P", streams, "--quiet", "--where", "tcp.dst_port == 25 or tcp.src_port == 25", "--stats",
          "conversations,protocols"},
         "stats_views_where.txt"},
    };
    for (const auto& c : cases) {
        test::run_result r = test::run_nodrix(c.args);
        EXPECT_EQ(r.status, 0) << c.expected << r.err;
        EXPECT_EQ(r.out, expected(c.expected)) << c.expected;
    }
}

// Flows spread over workers; the tables and streams must not notice.
TEST_F(StatsViews, SameForAnyNumberOfJobs) {
    for (const std::string& pcap : {streams, mixed}) {
        for (const char* view : {"conversations,endpoints,protocols,io,dns,http,tls", "conversations"}) {
            std::vector<std::string> args = {"-P", pcap, "--stats", view, "--follow", "tcp,1"};
            args.push_back("--jobs");
            args.push_back("1");
            test::run_result one = test::run_nodrix(args);
            args.back() = "3";
            test::run_result three = test::run_nodrix(args);
            EXPECT_EQ(one.status, 0) << one.err;
            EXPECT_EQ(one.out, three.out) << pcap << " " << view;
            args.push_back("--json");
            args[args.size() - 2] = "1";
            one = test::run_nodrix(args);
            args[args.size() - 2] = "3";
            three = test::run_nodrix(args);
            EXPECT_EQ(one.out, three.out) << pcap << " " << view << " --json";
        }
    }
}

// tshark's follow,raw: the hex of each chunk, the second node's indented.
std::string tshark_follow_bytes(const std::string& pcap, const std::string& kind, int stream) {
    test::run_result r = test::shell("tshark -n -r " + pcap + " -q -z follow," + kind + ",raw," +
                                     std::to_string(stream) + " 2>/dev/null");
    std::string bytes;
    static const std::regex hex_line(R"(^\t?([0-9a-f]+)$)");
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        if (!std::regex_match(line, m, hex_line) || m[1].length() % 2) continue;
        for (size_t i = 0; i < static_cast<size_t>(m[1].length()); i += 2)
            bytes.push_back(static_cast<char>(std::stoi(m[1].str().substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

TEST_F(StatsViews, FollowedBytesAgreeWithTshark) {
    if (!test::tshark_available()) GTEST_SKIP() << "tshark is not installed";
    const struct {
        const char* kind;
        int number;
        const char* by_address;
    } cases[] = {
        {"tcp", 0, "tcp,198.51.100.80:80,192.0.2.10:40001"},  // out of order, retransmitted
        {"tcp", 1, "tcp,192.0.2.10:40003,198.51.100.25:25"},  // SMTP-like dialogue
        {"tcp", 2, "tcp,[2001:db8::1]:40004,[2001:db8::2]:8080"},
        {"udp", 0, "udp,203.0.113.53:53,192.0.2.10:40002"},
    };
    for (const auto& c : cases) {
        std::string raw = dir->file("raw"), by_number = std::string(c.kind) + "," + std::to_string(c.number);
        test::run_result r = test::run_nodrix({"-P", streams, "--quiet", "--follow", by_number, "--follow-raw", raw});
        EXPECT_EQ(r.status, 0) << by_number << r.err;
        test::bytes mine = test::read_file(raw);
        std::string peer = tshark_follow_bytes(streams, c.kind, c.number);
        EXPECT_FALSE(peer.empty()) << by_number;
        EXPECT_EQ(std::string(mine.begin(), mine.end()), peer) << by_number;
        // Named by its two ends, in either order, the stream reads the same.
        test::run_result named = test::run_nodrix({"-P", streams, "--quiet", "--follow", c.by_address});
        EXPECT_EQ(named.status, 0) << c.by_address << named.err;
        size_t body = r.out.find("\nNode 0:"), named_body = named.out.find("\nNode 0:");
        ASSERT_NE(body, std::string::npos) << r.out;
        ASSERT_NE(named_body, std::string::npos) << named.out;
        EXPECT_EQ(r.out.substr(body), named.out.substr(named_body)) << c.by_address;
    }
}

TEST_F(StatsViews, FollowPrintsTheStreamAsText) {
    test::run_result r = test::run_nodrix({"-P", streams, "--quiet", "--follow", "tcp,0"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, expected("follow_http.txt"));
}

// Options that cannot be followed end the run at once, with one message;
// a stream that is not in the input is a failure, after the output.
TEST_F(StatsViews, RefuseWhatTheyCannotDo) {
    const struct {
        std::vector<std::string> args;
        int status;
        const char* message;
    } cases[] = {
        {{"--stats", "conversation"},
         1,
         "nodrix: --stats: unknown view 'conversation'; the views are conversations, endpoints, protocols, "
         "io[,SECONDS], dns, http and tls\n"},
        {{"--stats", "io,0"}, 1, "nodrix: --stats: the io interval must be from 0.000001 to 31536000 seconds, not 0\n"},
        {{"--stats", ""},
         1,
         "nodrix: --stats: unknown view ''; the views are conversations, endpoints, protocols, io[,SECONDS], dns, "
         "http and tls\n"},
        {{"--follow", "sctp,1"},
         1,
         "nodrix: --follow: 'sctp,1' names no stream; write tcp,N or udp,N, or tcp,ADDR:PORT,ADDR:PORT\n"},
        {{"--follow", "tcp,-1"}, 1, "nodrix: --follow: '-1' is no stream number (0 is the first stream)\n"},
        {{"--follow", "tcp,1x"}, 1, "nodrix: --follow: '1x' is no stream number (0 is the first stream)\n"},
        {{"--follow", "tcp,10.0.0.1:80,10.0.0.2"},
         1,
         "nodrix: --follow: '10.0.0.1:80,10.0.0.2' is not ADDR:PORT,ADDR:PORT (IPv6 as [ADDR]:PORT)\n"},
        {{"--follow", "tcp,10.0.0.1:80,10.0.0.2:70000"},
         1,
         "nodrix: --follow: '10.0.0.1:80,10.0.0.2:70000' is not ADDR:PORT,ADDR:PORT (IPv6 as [ADDR]:PORT)\n"},
        {{"--follow-raw", "/tmp/x"}, 1, "nodrix: --follow: --follow-raw needs --follow to name the stream\n"},
        {{"--follow", "tcp,3"}, 1, "nodrix: --follow: the input holds no TCP stream 3\n"},
        {{"--follow", "udp,1"}, 1, "nodrix: --follow: the input holds no UDP stream 1\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"-P", streams, "--quiet"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        test::run_result r = test::run_nodrix(args);
        EXPECT_EQ(r.status, c.status) << c.args[1];
        EXPECT_EQ(r.err, c.message) << c.args[1];
    }
}

// With the views, the capture span follows the report; the plain report
// stays as it was.
TEST_F(StatsViews, StatisticReportEndsWithTheCaptureSpan) {
    test::run_result plain = test::run_nodrix({"-P", streams, "--quiet", "--statistic", "--utc"});
    EXPECT_NE(plain.out.find("GSMP\t\t0\n"), std::string::npos) << plain.out;
    EXPECT_EQ(plain.out.find("Capture span"), std::string::npos) << plain.out;
    test::run_result r = test::run_nodrix({"-P", streams, "--quiet", "--statistic", "--utc", "--stats", "io"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("GSMP\t\t0\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n--- Capture span ---\nFirst frame:\t2026-01-01 00:00:00.000000\n"
                         "Last frame:\t2026-01-01 00:00:04.020000\nSpan:\t\t4.020000 s\n"),
              std::string::npos)
        << r.out;
    test::run_result brief = test::run_nodrix({"-P", streams, "--quiet", "--statistic-brief", "--utc"});
    EXPECT_EQ(brief.status, 0) << brief.err;
    EXPECT_NE(brief.out.find("\n--- Packets counted (not zero) ---\nethernet_ii             26\n"), std::string::npos)
        << brief.out;
    EXPECT_EQ(brief.out.find("GSMP"), std::string::npos) << brief.out;
    EXPECT_NE(brief.out.find("\nSpan:\t\t4.020000 s\n"), std::string::npos) << brief.out;
}

}  // namespace

namespace {

// Runs the traffic script with $DIR and $PORT set while tcpdump writes
// $DIR/c.pcap from the loopback interface.
bool capture_loopback(const test::temp_dir& dir, uint16_t port, const std::string& traffic) {
    std::string script = "DIR=" + dir.path + "; PORT=" + std::to_string(port) +
                         "; cd $DIR || exit 1\n"
                         "tcpdump -i lo -U -Z root -w $DIR/c.pcap tcp port $PORT >/dev/null 2>$DIR/td.err & TD=$!\n"
                         "for i in $(seq 100); do grep -q \"listening on\" $DIR/td.err && break; sleep 0.1; done\n"
                         "sleep 0.3\n" +
                         traffic + "\nsleep 1; kill $TD; wait $TD\ntest -s $DIR/c.pcap";
    return system(("bash -c '" + script + "'").c_str()) == 0;
}

bool have(const char* program) { return system((std::string("command -v ") + program + " >/dev/null").c_str()) == 0; }

// An SMTP dialogue between python's smtplib and a small line server.
const char* smtp_traffic =
    "cat > srv.py <<END\n"
    "import socket, sys\n"
    "s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)\n"
    "s.bind((\"127.0.0.1\", int(sys.argv[1]))); s.listen(1); c, _ = s.accept(); f = c.makefile(\"rb\")\n"
    "c.sendall(b\"220 mail.example ESMTP\\r\\n\"); data = False\n"
    "for line in f:\n"
    "    if data:\n"
    "        if line == b\".\\r\\n\": data = False; c.sendall(b\"250 queued\\r\\n\")\n"
    "        continue\n"
    "    word = line[:4].upper()\n"
    "    if word == b\"DATA\": data = True; c.sendall(b\"354 go on\\r\\n\")\n"
    "    elif word == b\"QUIT\": c.sendall(b\"221 bye\\r\\n\"); break\n"
    "    else: c.sendall(b\"250 ok\\r\\n\")\n"
    "c.close()\n"
    "END\n"
    "python3 srv.py $PORT & SV=$!\n"
    "for i in $(seq 100); do ss -ltn | grep -q \"127.0.0.1:$PORT \" && break; sleep 0.1; done\n"
    "python3 -c \"import smtplib, sys; s = smtplib.SMTP(\\\"127.0.0.1\\\", int(sys.argv[1]), \\\"client.example\\\"); "
    "s.sendmail(\\\"a@example.org\\\", [\\\"b@example.org\\\"], \\\"Subject: "
    "hi\\\\r\\\\n\\\\r\\\\nhello\\\\r\\\\n\\\"); "
    "s.quit()\" $PORT\n"
    "wait $SV";

const char* http_traffic =
    "mkdir -p www && printf \"hello\\\\nworld\\\\n\" > www/hello.txt\n"
    "python3 -m http.server $PORT --bind 127.0.0.1 --directory www >/dev/null 2>&1 & HS=$!\n"
    // Stream 0 must be the one that gets an answer: connect once it listens.
    "for i in $(seq 100); do ss -ltn | grep -q \"127.0.0.1:$PORT \" && break; sleep 0.1; done\n"
    "curl -s -o /dev/null http://127.0.0.1:$PORT/hello.txt\n"
    "kill $HS";

// Real programs on loopback: the followed stream holds what tshark's does,
// and the conversation rows agree.
TEST(StatsViewsLive, HttpAndSmtpStreams) {
    if (!test::running_as_root()) GTEST_SKIP() << "capturing on loopback needs root";
    if (!have("tcpdump") || !have("curl") || !test::tshark_available())
        GTEST_SKIP() << "tcpdump, curl or tshark is not installed";
    for (const char* traffic : {http_traffic, smtp_traffic}) {
        test::temp_dir dir;
        uint16_t port = test::free_udp_port();
        ASSERT_TRUE(capture_loopback(dir, port, traffic));
        std::string pcap = dir.file("c.pcap"), raw = dir.file("raw");
        test::run_result r = test::run_nodrix({"-P", pcap, "--quiet", "--follow", "tcp,0", "--follow-raw", raw});
        EXPECT_EQ(r.status, 0) << r.err;
        test::bytes mine = test::read_file(raw);
        std::string peer = tshark_follow_bytes(pcap, "tcp", 0);
        EXPECT_GT(peer.size(), 20u);
        EXPECT_EQ(std::string(mine.begin(), mine.end()), peer);
        EXPECT_EQ(ours(pcap)["conv tcp"], theirs(pcap)["conv tcp"]);
    }
}

}  // namespace
