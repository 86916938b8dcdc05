// Whatever order a connection's segments arrive in, with retransmissions
// and repeats cut differently, the decoders show the same messages: each
// one once, whole. Checked over random orders of an HTTP and a TLS
// connection (both directions interleaved), from a fixed seed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "decode/context.h"
#include "decode/ip_frames.h"
#include "decode/link/ethernet.h"
#include "pipeline/frame_loop.h"

namespace {

using test::bytes;

constexpr uint8_t SYN = 0x02, PSH_ACK = 0x18;

struct direction_stream {
    uint32_t isn;
    std::string bytes;
    std::vector<uint32_t> cuts;  // segment starts after 0; the stream's end closes the last
};

struct connection {
    const char* name;
    uint16_t port;
    direction_stream client, server;
    size_t messages;  // whole messages in both streams
};

std::string tls_record(uint8_t type, size_t length, char fill) {
    std::string r = {static_cast<char>(type), 3, 3, static_cast<char>(length >> 8), static_cast<char>(length & 0xff)};
    return r + std::string(length, fill);
}

std::vector<connection> connections() {
    std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (int i = 0; i < 3; ++i) chunked += "400\r\n" + std::string(1024, 'z') + "\r\n";
    chunked += "0\r\n\r\n";
    std::string requests =
        "GET /a HTTP/1.1\r\nHost: example.com\r\n\r\n"
        "POST /b HTTP/1.1\r\nHost: example.com\r\nContent-Length: 300\r\n\r\n" +
        std::string(300, 'x') + "GET /c HTTP/1.1\r\nHost: example.com\r\n\r\n";
    std::string responses = "HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n" + std::string(5000, 'y') + chunked +
                            "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n";
    std::string client_tls =
        tls_record(22, 200, 0) + tls_record(23, 100, 'a') + tls_record(23, 3000, 'b') + tls_record(23, 50, 'c');
    std::string server_tls =
        tls_record(22, 1500, 0) + tls_record(20, 1, 1) + tls_record(23, 8000, 'd') + tls_record(23, 20, 'e');
    return {
        {"http",
         80,
         {1000, requests, {10, 38, 60, 200, 407}},
         {0xffffe000u, responses, {1, 40, 1448, 2896, 4344, 5041, 5100, 6000, 6700, 8100, 8186, 8200}},
         6},
        {"tls",
         443,
         {0xfffffff0u, client_tls, {205, 305, 310, 1758, 3310}},
         {7, server_tls, {100, 1448, 1505, 1511, 2896, 4344, 9000, 9511, 9520}},
         8},
    };
}

struct segment {
    bool from_server;
    uint32_t offset;
    uint32_t length;
    uint8_t flags = PSH_ACK;
};

bytes frame_of(const connection& c, const segment& s) {
    const direction_stream& d = s.from_server ? c.server : c.client;
    bytes payload(d.bytes.begin() + s.offset, d.bytes.begin() + s.offset + s.length);
    bytes tcp = ipf::tcp(s.flags, payload);
    test::put_be16(tcp, 2, c.port);
    uint32_t seq = d.isn + (s.flags & SYN ? 0 : 1 + s.offset);
    test::put_be16(tcp, 4, static_cast<uint16_t>(seq >> 16));
    test::put_be16(tcp, 6, static_cast<uint16_t>(seq));
    test::put_be16(tcp, 16, 0);
    bytes ip = ipf::ipv4(6, ipf::with_transport_checksum(tcp, 6, 16));
    if (s.from_server) {
        // Swapping both addresses and both ports keeps every checksum.
        std::swap_ranges(ip.begin() + 12, ip.begin() + 16, ip.begin() + 16);
        std::swap_ranges(ip.begin() + 20, ip.begin() + 22, ip.begin() + 22);
    }
    return ipf::ethernet(0x0800, ip);
}

std::vector<segment> segments_of(const direction_stream& d, bool from_server) {
    std::vector<segment> out;
    std::vector<uint32_t> starts = {0};
    starts.insert(starts.end(), d.cuts.begin(), d.cuts.end());
    starts.push_back(static_cast<uint32_t>(d.bytes.size()));
    for (size_t i = 0; i + 1 < starts.size(); ++i) {
        EXPECT_LT(starts[i], starts[i + 1]);
        out.push_back({from_server, starts[i], starts[i + 1] - starts[i]});
    }
    return out;
}

// The first line of every HTTP head and TLS record shown whole, counted.
std::map<std::string, int> whole_messages(const std::string& text) {
    std::map<std::string, int> found;
    for (const char* banner : {"- HTTP Request -\n", "- HTTP Response -\n", "- TLS Record -\n"}) {
        for (size_t at = text.find(banner); at != std::string::npos; at = text.find(banner, at + 1)) {
            size_t first = at + strlen(banner);
            size_t end = text.find(" -\n", first);
            std::string block = text.substr(first, end == std::string::npos ? std::string::npos : end - first);
            if (block.find("continues beyond this segment") != std::string::npos) continue;
            ++found[std::string(banner, 6) + block.substr(0, block.find('\n'))];
        }
    }
    return found;
}

// The frames decoded one after another in one context, as a capture is
// (the end of a run, which clears the tables, comes after the last).
std::map<std::string, int> decode_in_order(const connection& c, const std::vector<segment>& order) {
    test::reset();
    std::vector<bytes> frames = {frame_of(c, {false, 0, 0, SYN}), frame_of(c, {true, 0, 0, SYN})};
    for (const segment& s : order) frames.push_back(frame_of(c, s));
    std::string text = test::capture_output([&] {
        decode_context& cx = frame_loop_main_context();
        unsigned long number = 0;
        for (const bytes& frame : frames) {
            frame_lengths lengths{static_cast<uint32_t>(frame.size()), static_cast<uint32_t>(frame.size())};
            cx.frame_number = ++number;
            cx.link_header_length = 14;
            decode_frame(cx, decode_ethernet, &lengths, frame.data());
            cx.stream_pieces.clear();
        }
        frame_loop_drain();
    });
    return whole_messages(text);
}

TEST(ReassemblyPermutations, EveryOrderShowsTheSameMessagesOnce) {
    std::mt19937 random(20261208);
    for (const connection& c : connections()) {
        std::vector<segment> in_order = segments_of(c.client, false);
        for (const segment& s : segments_of(c.server, true)) in_order.push_back(s);
        std::map<std::string, int> expected = decode_in_order(c, in_order);
        int total = 0;
        for (const auto& [line, count] : expected) total += count;
        ASSERT_EQ(static_cast<size_t>(total), c.messages) << c.name;

        for (int round = 0; round < 300; ++round) {
            std::vector<segment> order = in_order;
            std::shuffle(order.begin(), order.end(), random);
            // Retransmissions: whole segments again, and stretches cut
            // anew from a segment's start across later segments (as a
            // sender resends from the first unacknowledged byte), each at
            // a random place.
            int repeats = static_cast<int>(random() % 5);
            for (int r = 0; r < repeats; ++r) {
                segment again = order[random() % order.size()];
                if (random() % 2) {
                    const direction_stream& d = again.from_server ? c.server : c.client;
                    uint32_t from = again.offset;
                    uint32_t length =
                        1 + static_cast<uint32_t>(random() % std::min<size_t>(1448, d.bytes.size() - from));
                    again = {again.from_server, from, length};
                }
                order.insert(order.begin() + static_cast<long>(random() % (order.size() + 1)), again);
            }
            std::map<std::string, int> got = decode_in_order(c, order);
            if (got != expected) {
                std::string trail;
                for (const segment& s : order)
                    trail += (s.from_server ? " s" : " c") + std::to_string(s.offset) + "+" + std::to_string(s.length);
                std::string difference;
                for (const auto& [line, count] : expected)
                    if (got[line] != count) difference += "\n  " + line + ": " + std::to_string(got[line]) + " times";
                for (const auto& [line, count] : got)
                    if (!expected.count(line)) difference += "\n  " + line + ": " + std::to_string(count) + " times";
                ADD_FAILURE() << c.name << " round " << round << ", order:" << trail << difference;
                break;
            }
        }
    }
    test::reset();
}

}  // namespace
