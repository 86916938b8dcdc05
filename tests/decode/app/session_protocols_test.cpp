// PostgreSQL, RTP/RTCP and HTTP/2: exchanges of several frames between a
// client and a server, written to a capture file and decoded by the built
// program, so that what one frame sets up (an HTTP/2 header table, media
// ports announced by SDP, a message begun in an earlier segment) shows in
// the later ones.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app_frames.h"
#include "decode/expected_text.h"
#include "stats/counters.h"

namespace {

using test::bytes;
using test::hex;

struct packet {
    bool to_server;
    std::string payload;  // hex
};

struct session_case {
    const char* name;  // also the section of tests/data/session_protocols*.txt
    uint16_t server_port;
    bool udp;
    std::vector<packet> packets;
    const char* label;  // the counter's row in the statistics report
    unsigned count;     // its count after the exchange
};

// Client 192.168.1.10:40001; the server is 10.0.0.200. Sequence numbers
// run on in each direction, so that the TCP reassembly follows.
class exchange {
   public:
    exchange(uint16_t server_port, bool udp) : port_(server_port), udp_(udp) {}
    bytes frame(const packet& p) {
        bytes payload = hex(p.payload);
        uint16_t client = udp_ ? 40000 : 40001;
        bytes segment;
        if (udp_) {
            segment = ipf::udp(payload, p.to_server ? client : port_, p.to_server ? port_ : client);
        } else {
            segment = ipf::tcp(0x18, payload);
            test::put_be16(segment, 0, p.to_server ? client : port_);
            test::put_be16(segment, 2, p.to_server ? port_ : client);
            uint32_t& seq = p.to_server ? client_seq_ : server_seq_;
            for (int i = 0; i < 4; ++i) segment[4 + i] = static_cast<uint8_t>(seq >> (24 - 8 * i));
            seq += static_cast<uint32_t>(payload.size());
            segment[16] = segment[17] = 0;
            segment = ipf::with_transport_checksum(segment, 6, 16);
        }
        bytes f = ipf::ethernet(0x0800, ipf::ipv4(udp_ ? 17 : 6, segment));
        // Swapping the addresses keeps every checksum right.
        if (!p.to_server)
            for (int i = 0; i < 4; ++i) std::swap(f[26 + i], f[30 + i]);
        return f;
    }

   private:
    uint16_t port_;
    bool udp_;
    uint32_t client_seq_ = 1000, server_seq_ = 5000;
};

// The protocol's own text of every frame, one after another.
std::string from_banners(const std::string& out) {
    std::string text;
    for (size_t at = 0; at < out.size();) {
        size_t next = std::string::npos;
        for (const char* banner :
             {"- PostgreSQL -", "- RTP -", "- RTCP -", "- HTTP/2 -", "- HTTP Re", "- SIP ", "  [reassembled"}) {
            size_t found = out.find(banner, at);
            if (found < next) next = found;
        }
        if (next == std::string::npos) break;
        size_t end = out.find("\n\n", next);
        size_t stop = end == std::string::npos ? out.size() : end + 1;
        // A reassembly line and the layer behind it.
        text += out.substr(next, stop - next);
        at = stop;
    }
    return text;
}

// HPACK blocks of RFC 7541 C.4: three requests that build on one table.
const std::string first_request = "8286 8441 8cf1e3c2e5f23a6ba0ab90f4ff";
const std::string second_request = "8286 84be 5886 a8eb10649cbf";
// A SETTINGS frame with MAX_CONCURRENT_STREAMS 100 and INITIAL_WINDOW_SIZE
// 65535, and an empty one.
const std::string client_settings = "00000c 04 00 00000000 0003 00000064 0004 0000ffff";
const std::string server_settings = "000000 04 00 00000000";
const std::string settings_ack = "000000 04 01 00000000";
const std::string preface = "505249202a20485454502f322e300d0a0d0a534d0d0a0d0a";

const session_case cases[] = {
    // user alice, database shop; SCRAM-SHA-256 (the client's first
    // message shown by its length only), then the server's welcome.
    {"pgsql startup and authentication",
     5432,
     false,
     {{true, "00000022 00030000 7573657200616c69636500 64617461626173650073686f7000 00"},
      {false, "52 00000017 0000000a 534352414d2d5348412d32353600 00"},
      {true,
       "70 00000032 534352414d2d5348412d32353600 0000001c "
       "6e2c2c6e3d2c723d30313233343536373839616263646566303132 33"},
      {false,
       "52 00000008 00000000 53 00000019 636c69656e745f656e636f64696e6700 5554463800 "
       "4b 0000000c 00001234 deadbeef 5a 00000005 49"}},
     "PostgreSQL",
     4},
    // Parse, Bind, Describe, Execute and Sync in one segment; the answers
    // in the next.
    {"pgsql extended query",
     5432,
     false,
     {{true,
       "50 0000001a 00 73656c6563742024313a3a696e7400 0001 00000017 "
       "42 00000011 00 00 0000 0001 00000001 37 0000 "
       "44 00000006 50 00 45 00000009 00 00000000 53 00000004"},
      {false,
       "31 00000004 32 00000004 "
       "54 0000001d 0001 696e743400 00000000 0000 00000017 0004 ffffffff 0000 "
       "44 0000000b 0001 00000001 37 43 0000000d 53454c45435420 3100 5a 00000005 49"}},
     "PostgreSQL",
     2},
    {"pgsql error and ssl refusal",
     5432,
     false,
     {{true, "00000008 04d2162f"},
      {false, "4e"},
      {false,
       "45 00000035 534552524f5200 433432503031 00 4d72656c6174696f6e20226e6f73756368"
       "2220646f6573206e6f7420657869737400 00"}},
     "PostgreSQL",
     3},
    // A data row split after 16 bytes: the second segment completes it.
    {"pgsql row across segments",
     5432,
     false,
     {{false, "44 00000016 0002 00000003 616263 0000"}, {false, "0005 6465666768 5a 00000005 54"}},
     "PostgreSQL",
     4},
    // PCMU; then padding, an extension header, a CSRC and the marker.
    {"rtp on even ports",
     30002,
     true,
     {{true, "80 00 0001 000000a0 12345678 7f7f7f7f"},
      {true, "b1 e2 0002 00000140 12345678 0000abcd 0001 0001 01020304 55 66 00 02"}},
     "RTP",
     2},
    // A sender report, a source description and a goodbye in one datagram.
    {"rtcp compound on an odd port",
     30003,
     true,
     {{true,
       "80 c8 0006 12345678 e1234567 89abcdef 00000140 00000002 00000008 "
       "81 ca 0004 12345678 01 09 757365724068 6f7374 00 "
       "81 cb 0002 12345678 03 627965"}},
     "RTCP",
     1},
    {"http2 prior knowledge",
     8080,
     false,
     {{true, preface + client_settings + "000004 08 00 00000000 00010000 000011 01 05 00000001 " + first_request},
      {false, server_settings + settings_ack + "000001 01 04 00000001 88 000005 00 01 00000001 68656c6c6f"},
      {true, settings_ack + "000011 01 25 00000003 80000001 0f " + second_request},
      {true,
       "000008 06 00 00000000 0102030405060708 000004 03 00 00000003 00000008 "
       "000005 02 00 00000005 00000003 0f 00000b 07 00 00000000 00000003 00000000 627965"}},
     "HTTP/2",
     4},
    {"http2 continuation and cut frame",
     8080,
     false,
     {{true, preface + "000005 01 01 00000001 8286 8441 8c 00000c 09 04 00000001 f1e3c2e5f23a6ba0ab90f4ff"},
      {true, "000008 00 01 00000001 0102"},
      {true, "030405060708"}},
     "HTTP/2",
     4},
    {"http2 upgrade from http/1.1",
     80,
     false,
     {{true, "474554202f20485454502f312e310d0a486f73743a20610d0a557067726164653a206832630d0a0d0a"},
      {false,
       "485454502f312e312031303120537769746368696e672050726f746f636f6c730d0a"
       "557067726164653a206832630d0a0d0a" +
           server_settings},
      {true, preface + settings_ack}},
     "HTTP/2",
     2},
};

// An SDP offer announces RTP on the odd port 49171 with a dynamic payload
// type; RTP on that port is then decoded, named by the offer's rtpmap.
const std::string sip_offer =
    "INVITE sip:bob@example.com SIP/2.0\r\nContent-Type: application/sdp\r\nContent-Length: 79\r\n\r\n"
    "v=0\r\nc=IN IP4 10.0.0.200\r\nm=audio 49171 RTP/AVP 96\r\na=rtpmap:96 opus/48000/2\r\n";

std::string text_hex(const std::string& text) {
    static const char digits[] = "0123456789abcdef";
    std::string h;
    for (unsigned char c : text) h += {digits[c >> 4], digits[c & 15]};
    return h;
}

// The program's output for the exchange, with extra arguments.
test::run_result run(const session_case& c, std::vector<std::string> args) {
    exchange x(c.server_port, c.udp);
    std::vector<test::pcap_record> records;
    for (const packet& p : c.packets) records.push_back({x.frame(p)});
    test::temp_dir dir;
    test::write_file(dir.file("exchange.pcap"), test::pcap_file(records));
    args.insert(args.begin(), {"-P", dir.file("exchange.pcap")});
    return test::run_nodrix(args);
}

// The counter's row in the statistics report ("RTP\t\t2").
std::string counter_row(const char* label, unsigned count) {
    return std::string(label) + (strlen(label) < 8 ? "\t\t" : "\t") + std::to_string(count);
}

TEST(SessionProtocols, TextAndCounters) {
    for (const auto& c : cases) {
        test::run_result r = run(c, {"--expand-all", "-v", "--statistic"});
        EXPECT_EQ(from_banners(r.out), test::expected_section("session_protocols.txt", c.name)) << c.name;
        EXPECT_NE(r.out.find(counter_row(c.label, c.count)), std::string::npos) << c.name << "\n" << r.out;
    }
}

// By default HTTP/2 shows the pseudo-headers only, RTP one line.
TEST(SessionProtocols, DefaultText) {
    for (const auto& c : cases) {
        std::string section = std::string(c.name) + " default";
        std::string expected = test::expected_section("session_protocols.txt", section);
        if (expected.rfind("<no section", 0) == 0) continue;
        EXPECT_EQ(from_banners(run(c, {}).out), expected) << c.name;
    }
}

TEST(SessionProtocols, MediaAnnouncedBySdp) {
    test::reset({"verbose"});
    exchange sip(5060, true);
    std::string out = ipf::decode_ethernet_frame(sip.frame({true, text_hex(sip_offer)}));
    EXPECT_NE(out.find("Media: audio, Port: 49171"), std::string::npos) << out;
    exchange media(49171, true);
    out = ipf::decode_ethernet_frame(media.frame({true, "80 60 0001 000000a0 0000beef 01020304"}));
    EXPECT_NE(out.find("- RTP -\n  Payload Type: 96 (opus), Sequence: 1"), std::string::npos) << out;
    // The port after it carries RTCP.
    exchange control(49172, true);
    out = ipf::decode_ethernet_frame(control.frame({true,
                                                    "81 c9 0007 0000beef 12345678 00000000 00000000 "
                                                    "00000000 00000000 00000000"}));
    EXPECT_NE(out.find("- RTCP -\n  Type: 201 (Receiver Report)"), std::string::npos) << out;
    // Without the offer, the odd port is not RTP.
    test::reset({"verbose"});
    out = ipf::decode_ethernet_frame(media.frame({true, "80 60 0001 000000a0 0000beef 01020304"}));
    EXPECT_EQ(out.find("- RTP -"), std::string::npos) << out;
}

// tests/data/session_protocols.json.txt: per case a part of the last
// frame's JSON line and of its summary line.
TEST(SessionProtocols, JsonAndSummary) {
    for (const auto& c : cases) {
        std::string expected = test::expected_section("session_protocols.json.txt", c.name);
        if (expected.rfind("<no section", 0) == 0) continue;
        size_t newline = expected.find('\n');
        std::string layers = expected.substr(0, newline);
        std::string facts = expected.substr(newline + 1, expected.size() - newline - 2);
        std::string json = run(c, {"--json"}).out;
        EXPECT_NE(json.find(layers), std::string::npos) << c.name << "\n" << json;
        std::string summary = run(c, {"--summary"}).out;
        EXPECT_NE(summary.find(facts), std::string::npos) << c.name << "\n" << summary;
    }
}

TEST(SessionProtocols, EveryPrefix) {
    for (const auto& c : cases) {
        exchange x(c.server_port, c.udp);
        for (const packet& p : c.packets) {
            bytes frame = x.frame(p);
            EXPECT_EQ(test::invalid_json_prefix(decode_ethernet, frame, 14), "") << c.name;
            test::reset({"expand-all", "verbose", "statistic"});
            EXPECT_GT(test::decode_all_prefixes(decode_ethernet, frame, 14), 0) << c.name;
        }
    }
}

}  // namespace
