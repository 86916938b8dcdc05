// TCP streams on their own: order, retransmissions, wrap, framing, bounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

#include "decode/reassembly/tcp_streams.h"
#include "driver/settings.h"
#include "stats/counters.h"

namespace {

constexpr uint8_t FIN = 0x01, SYN = 0x02, RST = 0x04, PSH_ACK = 0x18;

const tcp_flow_key client{{10}, {11}, 40000, 443};

struct segment {
    uint32_t offset;  // from the first data byte
    std::string data;
};

std::string tls_record(uint8_t type, size_t body, char fill) {
    std::string r = {static_cast<char>(type), 3, 3, static_cast<char>(body >> 8), static_cast<char>(body & 0xff)};
    return r + std::string(body, fill);
}

// Feeds the segments (frames 2, 3, ... in the order given) after a SYN at
// `isn` and returns every message handed back, as text.
std::vector<std::string> feed(tcp_stream_table& table, const tcp_flow_key& key, uint32_t isn,
                              const std::vector<segment>& segments, protocol_counters& c,
                              const tcp_limits& limits = {}) {
    std::vector<std::string> got;
    table.add(key, isn, SYN, nullptr, 0, 1, 0, limits, c);
    unsigned long frame = 2;
    for (const segment& s : segments) {
        auto done = table.add(key, isn + 1 + s.offset, PSH_ACK, reinterpret_cast<const uint8_t*>(s.data.data()),
                              s.data.size(), frame++, 0, limits, c);
        for (const auto& m : done) got.emplace_back(m.bytes.begin(), m.bytes.end());
    }
    return got;
}

std::vector<segment> cut(const std::string& stream, const std::vector<uint32_t>& cuts) {
    std::vector<segment> out;
    for (size_t i = 0; i + 1 < cuts.size(); ++i)
        out.push_back({cuts[i], stream.substr(cuts[i], cuts[i + 1] - cuts[i])});
    return out;
}

// A handshake message of `type` with a body of n bytes of `fill`.
std::string handshake(uint8_t type, size_t n, char fill) {
    std::string h = {static_cast<char>(type), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
                     static_cast<char>(n & 0xff)};
    return h + std::string(n, fill);
}

// Handshake messages sent in records of at most `fragment` body bytes.
std::string in_records(const std::string& messages, size_t fragment) {
    std::string out;
    for (size_t at = 0; at < messages.size(); at += fragment) {
        std::string body = messages.substr(at, fragment);
        out += tls_record(22, body.size(), 0).substr(0, 5) + body;
    }
    return out;
}

// Every message handed back that is a handshake message put together from
// records, as text.
std::vector<std::string> handshakes_of(tcp_stream_table& table, uint32_t isn, const std::vector<segment>& segments,
                                       protocol_counters& c, const tcp_limits& limits = {}) {
    std::vector<std::string> got;
    table.add(client, isn, SYN, nullptr, 0, 1, 0, limits, c);
    unsigned long frame = 2;
    for (const segment& s : segments)
        for (const auto& m : table.add(client, isn + 1 + s.offset, PSH_ACK,
                                       reinterpret_cast<const uint8_t*>(s.data.data()), s.data.size(), frame++, 0,
                                       limits, c))
            if (m.handshake) got.emplace_back(m.bytes.begin(), m.bytes.end());
    return got;
}

// A server's flight: ServerHello, a Certificate over many records of 100
// bytes (the last also holding the head of the ServerKeyExchange), the rest
// of that, ServerHelloDone; then ChangeCipherSpec and an encrypted
// Finished that looks like the head of a long Certificate.
struct flight {
    std::string hello = handshake(2, 70, 'h'), certificate = handshake(11, 900, 'c'),
                key_exchange = handshake(12, 150, 'k'), done = handshake(14, 0, 0);
    std::string stream = in_records(hello, 100) + in_records(certificate + key_exchange + done, 100) +
                         tls_record(20, 1, 1) + tls_record(22, 40, 11);
};

TEST(TcpStreams, AnyOrderAndAnyRetransmissionGiveTheSameRecords) {
    settings = run_settings{};
    std::vector<std::string> records;
    std::string stream;
    for (char fill = 'a'; fill < 'f'; ++fill) {
        records.push_back(tls_record(23, 35, fill));
        stream += records.back();
    }
    // Every record spans two segments, so each one is handed back.
    std::vector<segment> segments = cut(stream, {0, 17, 63, 101, 150, 185, 200});
    std::vector<size_t> order(segments.size());
    std::iota(order.begin(), order.end(), 0);
    int orders = 0;
    do {
        // Near the top of the sequence space, so that it wraps on the way.
        for (uint32_t isn : {1000u, 0xffffff80u}) {
            tcp_stream_table table;
            protocol_counters c{};
            std::vector<segment> permuted;
            for (size_t i : order) permuted.push_back(segments[i]);
            // Every other order also repeats a segment, whole or in part,
            // after it was taken.
            if (orders % 2) {
                permuted.push_back(segments[order[0]]);
                permuted.push_back({segments[2].offset + 3, segments[2].data.substr(3) + segments[3].data});
            }
            EXPECT_EQ(feed(table, client, isn, permuted, c), records) << "order " << orders << " isn " << isn;
        }
        ++orders;
    } while (std::next_permutation(order.begin(), order.end()));
    EXPECT_EQ(orders, 720);
}

TEST(TcpStreams, AnyOrderGivesTheSameHandshakeMessages) {
    settings = run_settings{};
    flight f;
    std::vector<segment> segments = cut(f.stream, {0, 150, 420, 700, 1000, 1190, static_cast<uint32_t>(f.stream.size())});
    tcp_stream_table in_order;
    protocol_counters c{};
    std::vector<std::string> expected = feed(in_order, client, 3, segments, c);
    EXPECT_GE(expected.size(), 6u);
    EXPECT_NE(std::find(expected.begin(), expected.end(), f.certificate), expected.end());
    EXPECT_NE(std::find(expected.begin(), expected.end(), f.key_exchange), expected.end());
    std::vector<size_t> order(segments.size());
    std::iota(order.begin(), order.end(), 0);
    int orders = 0;
    do {
        tcp_stream_table table;
        std::vector<segment> permuted;
        for (size_t i : order) permuted.push_back(segments[i]);
        if (orders % 3 == 0) permuted.push_back({segments[1].offset + 9, segments[1].data.substr(9)});
        EXPECT_EQ(feed(table, client, 0xffffff00u, permuted, c), expected) << "order " << orders;
        ++orders;
    } while (std::next_permutation(order.begin(), order.end()));
}

TEST(TcpStreams, HandshakeMessagesAreFramedAcrossRecords) {
    settings = run_settings{};
    flight f;
    // Wherever the segments end, the two messages that span records come
    // whole, once; the whole ones are their records' own.
    const std::vector<uint32_t> cutss[] = {{0}, {0, 7, 300, 301, 1100}, {0, 3, 4, 5, 6, 600}};
    for (const auto& cuts : cutss) {
        std::vector<uint32_t> all = cuts;
        all.push_back(static_cast<uint32_t>(f.stream.size()));
        tcp_stream_table table;
        protocol_counters c{};
        EXPECT_EQ(handshakes_of(table, 9, cut(f.stream, all), c),
                  (std::vector<std::string>{f.certificate, f.key_exchange}))
            << cuts.size();
        EXPECT_EQ(table.held_flows(), 1u);
    }
    // A record that ends inside a message's 4-byte header.
    std::string split = in_records(f.done + f.hello.substr(0, 2), 100) + in_records(f.hello.substr(2), 100);
    tcp_stream_table table;
    protocol_counters c{};
    EXPECT_EQ(handshakes_of(table, 9, {{0, split}}, c), std::vector<std::string>{f.hello});
}

TEST(TcpStreams, HandshakeMessagesBeyondTheLimitArePassedOver) {
    settings = run_settings{};
    settings.statistic = true;
    flight f;
    tcp_limits limits;
    limits.handshake = 500;
    tcp_stream_table table;
    protocol_counters c{};
    // The Certificate is longer than the limit: the messages behind it
    // are still found.
    EXPECT_EQ(handshakes_of(table, 9, {{0, f.stream}}, c, limits), std::vector<std::string>{f.key_exchange});
    EXPECT_EQ(c.reassembly_evicted, 1u);
    EXPECT_LT(table.held_bytes(), 1024u);
    // The rest a record's body begins with, as the decoder asks for it.
    tcp_stream_table asked;
    std::string head = in_records(f.certificate, 100).substr(0, 210);
    handshakes_of(asked, 9, {{0, head}}, c);
    EXPECT_EQ(asked.handshake_rest(client, 10 + 210), 904u - 200u);
    EXPECT_EQ(asked.handshake_rest(client, 10 + 209), 0u);
    settings.statistic = false;
}

TEST(TcpStreams, TheFirstCopyOfABytesWins) {
    settings = run_settings{};
    tcp_stream_table table;
    protocol_counters c{};
    std::string record = tls_record(23, 20, 'x');
    std::string other = record;
    std::replace(other.begin() + 5, other.end(), 'x', 'y');
    // The later, differing copy of bytes 10 to 15 is not taken.
    auto got = feed(table, client, 5, {{0, record.substr(0, 15)}, {10, other.substr(10, 5)}, {15, record.substr(15)}},
                    c);
    EXPECT_EQ(got, std::vector<std::string>{record});
    // Held out of order: the first one held stays.
    tcp_stream_table later;
    got = feed(later, client, 5, {{15, record.substr(15)}, {15, other.substr(15)}, {0, record.substr(0, 15)}}, c);
    EXPECT_EQ(got, std::vector<std::string>{record});
}

struct framing_case {
    const char* name;
    uint16_t port;
    std::string stream;
    size_t piece;  // segment size
    std::vector<std::string> messages;
};

TEST(TcpStreams, MessagesAreFramedByTheirProtocol) {
    settings = run_settings{};
    std::string dns1 = std::string("\x00\x0e\x12\x34\x01\x00", 6) + std::string(10, '\x00');
    std::string dns2 = std::string("\x00\x0c\x56\x78\x81\x80", 6) + std::string(8, '\x00');
    std::string post = "POST /a HTTP/1.1\r\nHost: x\r\nContent-Length: 11\r\n\r\n";
    std::string get = "GET /b HTTP/1.1\r\nHost: x\r\n\r\n";
    std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    std::string no_content = "HTTP/1.1 204 No Content\r\nContent-Length: 9\r\n\r\n";
    std::string plain = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n";
    const framing_case cases[] = {
        {"DNS by its length", 53, dns1 + dns2, 3, {dns1, dns2}},
        {"HTTP body by Content-Length, then the next head", 80, post + "hello world" + get, 7, {post, get}},
        {"chunked body, then a head", 80,
         chunked + "5\r\nhello\r\n1a;x=y\r\nabcdefghijklmnopqrstuvwxyz\r\n0\r\nTrailer: t\r\n\r\n" + plain + "ok", 9,
         {chunked, plain}},
        {"204 has no body whatever it says", 80, no_content + get, 10, {no_content, get}},
        {"TLS records of every size", 443, tls_record(22, 0, 0) + tls_record(23, 300, 'q') + tls_record(21, 2, 1), 64,
         {tls_record(22, 0, 0), tls_record(23, 300, 'q'), tls_record(21, 2, 1)}},
    };
    for (const framing_case& f : cases) {
        tcp_flow_key key = client;
        key.destination_port = f.port;
        std::vector<segment> segments;
        for (size_t at = 0; at < f.stream.size(); at += f.piece)
            segments.push_back({static_cast<uint32_t>(at), f.stream.substr(at, f.piece)});
        tcp_stream_table table;
        protocol_counters c{};
        std::vector<std::string> got = feed(table, key, 77, segments, c);
        // A message inside one aligned segment is its frame's own; with
        // these sizes only the empty TLS record is.
        std::vector<std::string> expected = f.messages;
        if (f.port == 443) expected.erase(expected.begin());
        EXPECT_EQ(got, expected) << f.name;
    }
}

TEST(TcpStreams, UnknownBytesAreNotKept) {
    settings = run_settings{};
    tcp_stream_table table;
    protocol_counters c{};
    std::string junk(5000, 'z');
    auto got = feed(table, client, 1, cut(junk, {0, 1000, 2000, 3000, 4000, 5000}), c);
    EXPECT_TRUE(got.empty());
    EXPECT_LT(table.held_bytes(), 1000u);
}

TEST(TcpStreams, EndsAndBoundsLetGo) {
    settings = run_settings{};
    settings.statistic = true;
    protocol_counters c{};
    std::string record = tls_record(23, 100, 'r');
    // A FIN with half a record counts it as incomplete.
    tcp_stream_table table;
    feed(table, client, 1, {{0, record.substr(0, 50)}}, c);
    table.add(client, 52, FIN, nullptr, 0, 9, 0, {}, c);
    EXPECT_EQ(c.tcp_messages_incomplete, 1u);
    EXPECT_EQ(table.held_flows(), 0u);
    // A reset ends both directions.
    tcp_flow_key back{client.destination, client.source, client.destination_port, client.source_port};
    feed(table, client, 1, {{0, record.substr(0, 50)}}, c);
    feed(table, back, 1, {{0, record.substr(0, 50)}}, c);
    EXPECT_EQ(table.held_flows(), 2u);
    table.add(back, 51, RST, nullptr, 0, 9, 0, {}, c);
    EXPECT_EQ(table.held_flows(), 0u);
    EXPECT_EQ(table.held_bytes(), 0u);

    // One direction may not hold more than its share.
    tcp_limits limits;
    limits.per_flow = 4096;
    std::string big = tls_record(23, 8000, 'b');
    feed(table, client, 1, cut(big, {0, 1000, 2000, 3000, 4000, 5000, 6000}), c, limits);
    EXPECT_EQ(c.reassembly_evicted, 1u);
    // The rest is taken as a stream joined in the middle, and not kept.
    EXPECT_LT(table.held_bytes(), 1024u);
    // All flows together stay within the memory bound; the oldest go.
    limits.memory = 16 * 1024;
    size_t most = 0;
    for (uint16_t port = 1; port <= 200; ++port) {
        tcp_flow_key k = client;
        k.source_port = port;
        feed(table, k, 1, {{0, record.substr(0, 90)}}, c, limits);
        most = std::max(most, table.held_bytes());
    }
    EXPECT_LE(most, limits.memory);
    EXPECT_GT(c.reassembly_evicted, 100u);
    // A flow idle past the timeout goes when a later frame comes.
    tcp_stream_table idle;
    feed(idle, client, 1, {{0, record.substr(0, 50)}}, c);
    tcp_flow_key other = client;
    other.source_port = 1;
    idle.add(other, 1, SYN, nullptr, 0, 20, limits.idle_timeout_us + 1, limits, c);
    EXPECT_EQ(idle.held_flows(), 1u);
    settings.statistic = false;
}

}  // namespace
