// Reassembly on traffic that real programs make, against tshark: a 200 KiB
// HTTP response (python's http.server to curl), pipelined requests with a
// chunked answer, DNS over TCP with answers of 4 KB, ping -s 4000 (ICMP in
// IPv4 fragments) and a fragmented UDP datagram over IPv6, all in a network
// namespace whose loopback has an MTU of 1500 (tests/data/reassembly_traffic.sh).
//
// Where tshark shows a reassembled message, nodrix shows the same values.
// The frames differ for HTTP only, by design: tshark waits for the whole
// body and shows the head at the body's last frame; nodrix shows the head
// at the frame that completes the head and passes over the body.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "peer.h"
#include "support.h"

namespace {

bool have(const char* program) { return system((std::string("command -v ") + program + " >/dev/null").c_str()) == 0; }

struct live_capture {
    test::temp_dir dir;
    std::string pcap = dir.file("c.pcap");
    bool made = false;
    live_capture() {
        std::string script = std::string(NODRIX_SOURCE_DIR) + "/tests/data/reassembly_traffic.sh";
        made = system(("bash " + script + " " + dir.path + " >/dev/null 2>&1").c_str()) == 0;
    }
};

const live_capture& capture() {
    static live_capture c;
    return c;
}

std::string skip_reason() {
    if (!test::running_as_root()) return "a network namespace needs root";
    for (const char* program : {"tcpdump", "tshark", "curl", "ping", "ip"})
        if (!have(program)) return std::string(program) + " is not installed";
    if (!capture().made) return "the traffic could not be made (no network namespaces here?)";
    return "";
}

// Every value of key in the frame's layers of proto that hold it, joined
// by ','; heads continued in the next segment count as not shown.
std::string values(const std::string& line, const char* proto, const char* key) {
    std::string out;
    for (int n = 0; n < test::json_layers(line, proto); ++n) {
        if (test::json_field(line, proto, "head_continues", n) == "true") continue;
        std::string v = test::json_field(line, proto, key, n);
        if (v.empty()) continue;
        out += (out.empty() ? "" : ",") + v;
    }
    return out;
}

// The frames whose tshark field is set, with its values, and nodrix's
// values of the same frames.
struct column {
    const char* tshark;
    const char* proto;
    const char* key;
};

TEST(ReassemblyLive, CompletingFramesShowWhatTsharkShows) {
    std::string why = skip_reason();
    if (!why.empty()) GTEST_SKIP() << why;
    const std::string& pcap = capture().pcap;
    // Frame-exact: DNS over TCP, ICMP and UDP in fragments.
    const column exact[] = {
        {"dns.id", "dns", "id"},
        {"dns.count.answers", "dns", "answer_count"},
        {"icmp.type", "icmp", "type"},
        {"icmp.seq", "icmp", "seq"},
        {"udp.length", "udp", "length"},
        {"udp.dstport", "udp", "dst_port"},
        {"ipv6.reassembled.length", "ipv6_fragment", "reassembled_length"},
        {"ip.reassembled.length", "ipv4", "reassembled_length"},
    };
    std::vector<std::string> fields;
    for (const column& c : exact) fields.push_back(c.tshark);
    auto rows = test::tshark_fields(pcap, fields, "", {"-d", "tcp.port==8081,http"});
    auto lines = test::nodrix_json_lines(pcap, {"--jobs", "1"});
    ASSERT_EQ(rows.size(), lines.size());
    std::map<std::string, int> compared;
    for (size_t i = 0; i < rows.size(); ++i)
        for (size_t f = 0; f < fields.size(); ++f) {
            if (rows[i][f].empty()) continue;
            std::string ours = values(lines[i], exact[f].proto, exact[f].key);
            // The datagram an ICMP error quotes: its own layer here.
            if (ours.empty() && std::string(exact[f].proto) == "udp")
                ours = test::json_field(lines[i], "icmp_quote",
                                        std::string(exact[f].key) == "length" ? "udp_length" : exact[f].key);
            std::string theirs = rows[i][f];
            if (std::string(exact[f].tshark) == "dns.id") theirs = std::to_string(std::stoul(theirs, nullptr, 16));
            // tshark repeats a value for each header that holds it (the
            // ICMP quote of an error): the first is the message's own. Ours
            // has the reassembled message last, behind what the segment's
            // own decoding made of its bytes (a DNS segment on port 53 is
            // read from its start, even inside a message: ours alone).
            EXPECT_EQ(theirs.substr(0, theirs.find(',')), ours.substr(ours.rfind(',') + 1))
                << exact[f].tshark << " at frame " << i + 1;
            ++compared[exact[f].tshark];
        }
    EXPECT_EQ(compared["dns.id"], 4);  // two queries, two answers in four segments each
    EXPECT_EQ(compared["icmp.seq"], 4);
    EXPECT_GE(compared["ip.reassembled.length"], 4);
    EXPECT_GE(compared["ipv6.reassembled.length"], 1);
}

TEST(ReassemblyLive, HttpMessagesInTheSameOrderAsTshark) {
    std::string why = skip_reason();
    if (!why.empty()) GTEST_SKIP() << why;
    const std::string& pcap = capture().pcap;
    const column http[] = {
        {"http.request.uri", "http", "uri"},
        {"http.response.code", "http", "status"},
    };
    auto rows = test::tshark_fields(pcap, {http[0].tshark, http[1].tshark}, "", {"-d", "tcp.port==8081,http"});
    auto lines = test::nodrix_json_lines(pcap, {"--jobs", "1", "--expand-all"});
    ASSERT_EQ(rows.size(), lines.size());
    for (size_t f = 0; f < 2; ++f) {
        std::vector<std::string> theirs, ours;
        for (size_t i = 0; i < rows.size(); ++i) {
            if (!rows[i][f].empty()) theirs.push_back(rows[i][f]);
            std::string v = values(lines[i], http[f].proto, http[f].key);
            if (!v.empty()) ours.push_back(v);
        }
        EXPECT_EQ(theirs, ours) << http[f].tshark;
    }
    // The head of the 200 KiB response is one of them, with its length.
    bool big = false;
    for (const std::string& line : lines)
        big = big || line.find("\"name\":\"Content-Length\",\"value\":\"204800\"") != std::string::npos;
    EXPECT_TRUE(big);
}

}  // namespace
