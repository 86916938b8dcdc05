// QUIC connections: coalesced packets walked by their lengths, and short
// headers read against the connection ids their flow's long headers chose
// (RFC 9000 5.1, 17.2, 17.3), the same for any number of decoding threads.
// The expected text is in tests/data/quic_connections.txt.
#include "decode/app/quic_connections.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "../../peer.h"
#include "decode/ip_frames.h"

namespace {

using test::bytes;

// A UDP datagram between client `n` (10.0.0.n, port 50000 + n) and
// 192.0.2.1 port 443, either way.
bytes quic_frame(unsigned n, bool from_client, const std::string& hex_payload, size_t filler = 0) {
    bytes payload = test::hex(hex_payload);
    for (size_t i = 0; i < filler; ++i) payload.push_back(static_cast<uint8_t>(0x40 + i));
    uint16_t client_port = static_cast<uint16_t>(50000 + n);
    bytes udp = ipf::udp(payload, from_client ? client_port : 443, from_client ? 443 : client_port);
    test::put_be16(udp, 6, 0);
    bytes ip = ipf::ipv4(17, udp);
    bytes client = {10, 0, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)}, server = {192, 0, 2, 1};
    std::copy(client.begin(), client.end(), ip.begin() + (from_client ? 12 : 16));
    std::copy(server.begin(), server.end(), ip.begin() + (from_client ? 16 : 12));
    test::put_be16(ip, 10, 0);
    test::put_be16(ip, 10, test::inet_checksum(bytes(ip.begin(), ip.begin() + 20)));
    return ipf::ethernet(0x0800, ip);
}

// One connection: the client's Initial (DCID 8 bytes of its own choice,
// SCID c1c1c1c1), the server's Initial, Handshake and first 1-RTT packet
// coalesced (SCID 5e5e5e5e5e5e), then 1-RTT both ways, and a short header
// of a flow that showed no long header.
std::vector<bytes> handshake(unsigned n) {
    return {
        quic_frame(n, true, "c0 00000001 08 0001020304050607 04 c1c1c1c1 00 4010", 16),
        quic_frame(n, false,
                   "c1 00000001 04 c1c1c1c1 06 5e5e5e5e5e5e 00 4008 0000000000000000"
                   "e1 00000001 04 c1c1c1c1 06 5e5e5e5e5e5e 4004 00000000"
                   "41 c1c1c1c1",
                   12),
        quic_frame(n, true, "41 5e5e5e5e5e5e", 20),
        quic_frame(n, false, "5f c1c1c1c1", 20),
        quic_frame(n + 1, true, "41 5e5e5e5e5e5e", 20),
    };
}

std::string read_text(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(QuicConnections, CoalescedPacketsAndLearnedIds) {
    std::string path = std::string(NODRIX_SOURCE_DIR) + "/tests/data/quic_connections.txt";
    std::string got;
    for (auto flags : {std::initializer_list<const char*>{}, {"expand-all", "verbose"}}) {
        test::reset(flags);
        for (const bytes& frame : handshake(1)) got += ipf::decode_ethernet_frame(frame) + "--\n";
    }
    // A client without connection ids: the server's short headers carry none.
    test::reset();
    got += ipf::decode_ethernet_frame(quic_frame(7, true, "c0 00000001 04 0a0b0c0d 00 00 4004 00000000"));
    got += ipf::decode_ethernet_frame(quic_frame(7, false, "40", 10));
    if (getenv("NODRIX_WRITE_EXPECTED")) std::ofstream(path) << got;
    EXPECT_EQ(got, read_text(path));

    test::reset({"summary"});
    std::vector<std::string> summaries;
    for (const bytes& frame : handshake(1)) summaries.push_back(test::decode_record(decode_ethernet, frame, 14));
    EXPECT_NE(summaries[1].find("Initial QUIC v1 DCID c1c1c1c1, Handshake QUIC v1 DCID c1c1c1c1, 1-RTT DCID c1c1c1c1"),
              std::string::npos)
        << summaries[1];
    EXPECT_NE(summaries[2].find("1-RTT DCID 5e5e5e5e5e5e"), std::string::npos) << summaries[2];
    EXPECT_NE(summaries[4].find("1-RTT ("), std::string::npos) << summaries[4];

    test::reset({"json"});
    std::vector<std::string> lines;
    for (const bytes& frame : handshake(1)) lines.push_back(test::decode_record(decode_ethernet, frame, 14));
    EXPECT_EQ(test::json_field(lines[3], "quic", "dcid"), "c1c1c1c1");
    EXPECT_EQ(test::json_field(lines[3], "quic", "dcid_length"), "4");
    EXPECT_EQ(test::json_field(lines[4], "quic", "dcid"), "");
    test::reset();
}

// The table's bounds: ids per flow, flows per table, idle flows.
TEST(QuicConnections, TableStaysBounded) {
    quic_limits limits;
    limits.flows = 4;
    limits.ids_per_flow = 3;
    limits.idle_timeout_us = 1000;
    auto end = [](uint8_t host, uint16_t port) { return quic_endpoint{{10, 0, 0, host}, port}; };
    const uint8_t ids[6][4] = {{1, 1, 1, 1}, {2, 2, 2, 2}, {3, 3, 3, 3}, {4, 4, 4, 4}, {5, 5, 5, 5}, {6, 6, 6, 6}};
    struct step {
        const char* what;
        int learn_id;         // learned as the server's SCID, or -1
        uint8_t client_host;  // the flow
        int64_t now_us;
        int match_id;  // looked up in a packet to the server, or -1
        bool found;
    } steps[] = {
        {"learned", 0, 1, 0, 0, true},
        {"second id", 1, 1, 10, 0, true},
        {"third id", 2, 1, 20, 1, true},
        {"a fourth pushes out the first", 3, 1, 30, 0, false},
        {"the second is still there", -1, 1, 40, 1, true},
        {"other flows", 0, 2, 50, -1, false},
        {"", 0, 3, 60, -1, false},
        {"", 0, 4, 70, -1, false},
        {"flow 1 used again", -1, 1, 75, 1, true},
        {"a fifth flow pushes out the least recently used", 0, 5, 80, -1, false},
        {"flow 2 went", -1, 2, 90, 0, false},
        {"flow 1 kept", -1, 1, 100, 1, true},
        {"idle past the timeout", -1, 1, 1101, 1, false},
        {"other direction: the client's ids do not count", 4, 3, 1200, -1, false},
    };
    quic_connection_table table;
    for (const step& s : steps) {
        quic_endpoint client = end(s.client_host, 50000), server = end(100, 443);
        if (s.learn_id >= 0) table.learn(server, client, nullptr, 0, ids[s.learn_id], 4, s.now_us, limits);
        if (s.match_id >= 0) {
            bytes packet(ids[s.match_id], ids[s.match_id] + 4);
            packet.push_back(0xee);
            quic_connection_id found;
            EXPECT_EQ(table.match(client, server, packet.data(), packet.size(), s.now_us, found, limits), s.found)
                << s.what;
        }
        EXPECT_LE(table.flows(), limits.flows) << s.what;
    }
    // The server's own packets to the client carry the client's ids only.
    quic_connection_id found;
    bytes to_client = {4, 4, 4, 4, 0};
    EXPECT_FALSE(table.match(end(100, 443), end(3, 50000), to_client.data(), to_client.size(), 1200, found, limits));
}

// Every connection's frames go to one thread, wherever its flow lands: the
// output is the same for any number of threads.
TEST(QuicConnections, AnyNumberOfJobsReadsTheSameIds) {
    test::temp_dir dir;
    std::vector<test::pcap_record> records;
    std::vector<std::vector<bytes>> connections;
    for (unsigned n = 1; n <= 60; n += 2) connections.push_back(handshake(n));
    uint32_t second = 45296;
    for (size_t step = 0; step < 5; ++step)
        for (const auto& frames : connections) records.push_back({frames[step], second++});
    std::string pcap = dir.file("quic.pcap");
    test::write_file(pcap, test::pcap_file(records));
    for (const char* mode : {"", "--json", "--summary"}) {
        std::vector<std::string> args = {"-P", pcap};
        if (*mode) args.push_back(mode);
        auto one = args;
        one.insert(one.end(), {"--jobs", "1"});
        test::run_result reference = test::run_nodrix(one);
        ASSERT_EQ(reference.status, 0);
        EXPECT_NE(reference.out.find("5e5e5e5e5e5e"), std::string::npos);
        for (const char* jobs : {"2", "3", "8"}) {
            auto many = args;
            many.insert(many.end(), {"--jobs", jobs});
            EXPECT_TRUE(test::run_nodrix(many).out == reference.out) << mode << " --jobs " << jobs;
        }
    }
}

}  // namespace
