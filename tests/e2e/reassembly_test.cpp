// Fragmented datagrams through the built program: the frame that completes
// one decodes all of it, every other frame reads as without reassembly.
// The expected texts are in tests/e2e/reassembly/<case>.txt.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "decode/app/ber_frames.h"
#include "decode/ip_frames.h"
#include "peer.h"

namespace {

using test::bytes;

struct piece {
    uint32_t offset;
    uint32_t length;  // 0: to the end of the datagram
    bool more;
    uint8_t flip = 0;  // xor'ed into the piece's bytes: a copy that differs
};

// A DNS response with `answers` A records for example.com, as a UDP
// datagram from port 53: large enough to need fragments.
bytes dns_response(int answers) {
    bytes m = test::hex("1234 8180 0001 0000 0000 0000 076578616d706c6503636f6d00 0001 0001");
    test::put_be16(m, 6, static_cast<uint16_t>(answers));
    for (int i = 0; i < answers; ++i) {
        bytes rr = test::hex("c00c 0001 0001 0000003c 0004 c0000200");
        rr[15] = static_cast<uint8_t>(i + 1);
        m.insert(m.end(), rr.begin(), rr.end());
    }
    return ipf::udp(m, 53, 40002);
}

bytes udp_datagram() {
    bytes payload(1200);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>('a' + i % 26);
    return ipf::udp(payload);
}

bytes slice_of(const bytes& datagram, const piece& p) {
    uint32_t length = p.length ? p.length : static_cast<uint32_t>(datagram.size()) - p.offset;
    bytes b(datagram.begin() + p.offset, datagram.begin() + p.offset + length);
    for (auto& c : b) c ^= p.flip;
    return b;
}

bytes ipv4_fragment(const bytes& datagram, const piece& p, uint16_t id) {
    bytes packet = ipf::ipv4(17, slice_of(datagram, p));
    test::put_be16(packet, 4, id);
    test::put_be16(packet, 6, static_cast<uint16_t>((p.more ? 0x2000 : 0) | p.offset / 8));
    test::put_be16(packet, 10, 0);
    test::put_be16(packet, 10, test::inet_checksum(bytes(packet.begin(), packet.begin() + 20)));
    return ipf::ethernet(0x0800, packet);
}

// The UDP checksum behind IPv6 covers another pseudo-header.
bytes ipv6_udp(bytes datagram) {
    bytes pseudo = test::concat({test::hex("20010db8000000000000000000000001 20010db8000000000000000000000002"),
                                 test::hex("00000000 00000011")});
    test::put_be16(pseudo, 34, static_cast<uint16_t>(datagram.size()));
    test::put_be16(datagram, 6, 0);
    test::put_be16(datagram, 6, test::inet_checksum(test::concat({pseudo, datagram})));
    return datagram;
}

bytes ipv6_fragment(const bytes& datagram, const piece& p, uint32_t id) {
    bytes header = test::hex("11 00 0000 00000000");
    test::put_be16(header, 2, static_cast<uint16_t>(p.offset | (p.more ? 1 : 0)));
    test::put_be16(header, 4, static_cast<uint16_t>(id >> 16));
    test::put_be16(header, 6, static_cast<uint16_t>(id));
    return ipf::ethernet(0x86dd, ipf::ipv6(44, test::concat({header, slice_of(datagram, p)})));
}

struct fragment_case {
    const char* name;
    int version;
    bytes datagram;
    std::vector<piece> pieces;  // in the order they are captured
    std::vector<std::string> args;
};

std::vector<fragment_case> cases() {
    bytes udp = udp_datagram();
    bytes udp6 = ipv6_udp(udp);
    return {
        {"ipv4_in_order", 4, udp, {{0, 512, true}, {512, 512, true}, {1024, 0, false}}, {}},
        {"ipv4_reversed_checksums", 4, udp, {{1024, 0, false}, {512, 512, true}, {0, 512, true}},
         {"--verbose", "--calc-checksums"}},
        // The repeated first fragment adds nothing; the differing middle
        // copy wins (RFC 791), so the UDP checksum no longer fits.
        {"ipv4_duplicate_and_overlap",
         4,
         udp,
         {{0, 512, true}, {0, 512, true}, {256, 512, true, 0x20}, {768, 0, false}},
         {"--calc-checksums"}},
        {"ipv4_dns_response", 4, dns_response(40), {{0, 376, true}, {376, 0, false}}, {}},
        {"ipv4_no_reassembly", 4, udp, {{0, 512, true}, {512, 0, false}}, {"--no-reassembly"}},
        {"ipv6_reversed_expand_all", 6, udp6, {{1024, 0, false}, {0, 512, true}, {512, 512, true}},
         {"--expand-all", "--calc-checksums"}},
        // RFC 5722: any overlap drops the datagram, later pieces with it.
        {"ipv6_overlap_dropped", 6, udp6, {{0, 512, true}, {504, 8, true}, {512, 0, false}}, {}},
    };
}

std::string capture_file(const test::temp_dir& dir, const fragment_case& c) {
    std::vector<test::pcap_record> records;
    uint32_t second = 45296;
    for (const piece& p : c.pieces) {
        bytes frame = c.version == 4 ? ipv4_fragment(c.datagram, p, 0x4d2) : ipv6_fragment(c.datagram, p, 0x4d2);
        records.push_back({frame, second++});
    }
    std::string path = dir.file(std::string(c.name) + ".pcap");
    test::write_file(path, test::pcap_file(records));
    return path;
}

// From the first frame line to the end of the last frame.
std::string decode_region(const std::string& out) {
    auto from = out.find("\n12:34:56");
    auto to = out.find("\nRead pcap dump file completed.");
    return from == std::string::npos || to == std::string::npos ? out : out.substr(from, to - from);
}

std::string expected_path(const char* name) {
    return std::string(NODRIX_SOURCE_DIR) + "/tests/e2e/reassembly/" + name + ".txt";
}

std::string read_text(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(Reassembly, FragmentedDatagramsReadAsExpected) {
    test::temp_dir dir;
    for (const fragment_case& c : cases()) {
        std::vector<std::string> args = {"-P", capture_file(dir, c), "--jobs", "1"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        auto r = test::run_nodrix(args);
        EXPECT_EQ(r.status, 0) << c.name << r.err;
        std::string got = decode_region(r.out);
        // NODRIX_WRITE_EXPECTED=1 writes the files anew, for review.
        if (getenv("NODRIX_WRITE_EXPECTED")) std::ofstream(expected_path(c.name)) << got;
        EXPECT_EQ(got, read_text(expected_path(c.name))) << c.name;
    }
}

TEST(Reassembly, OnlyTheCompletingFrameChangesAgainstFrameByFrame) {
    test::temp_dir dir;
    for (const fragment_case& c : cases()) {
        std::string pcap = capture_file(dir, c);
        auto on = test::run_nodrix({"-P", pcap, "--jobs", "1", "--json"});
        auto off = test::run_nodrix({"-P", pcap, "--jobs", "1", "--json", "--no-reassembly"});
        std::istringstream a(on.out), b(off.out);
        std::string x, y;
        int differing = 0, completing = 0;
        while (std::getline(a, x) && std::getline(b, y)) {
            bool completes = x.find("\"reassembled_frames\"") != std::string::npos;
            completing += completes;
            if (x == y) continue;
            ++differing;
            // Other frames differ only by the recorded verdict.
            if (!completes) {
                EXPECT_NE(x.find("\"reassembly\":\""), std::string::npos) << c.name << "\n" << x;
            }
        }
        bool whole = std::string(c.name) != "ipv6_overlap_dropped";
        EXPECT_EQ(completing, whole ? 1 : 0) << c.name;
    }
}

TEST(Reassembly, StatisticsCountReassembledAndDroppedDatagrams) {
    test::temp_dir dir;
    auto all = cases();
    std::vector<test::pcap_record> records;
    uint32_t id = 1;
    for (const fragment_case& c : all) {
        if (c.args == std::vector<std::string>{"--no-reassembly"}) continue;
        for (const piece& p : c.pieces)
            records.push_back({c.version == 4 ? ipv4_fragment(c.datagram, p, static_cast<uint16_t>(id))
                                              : ipv6_fragment(c.datagram, p, id)});
        ++id;
    }
    test::write_file(dir.file("all.pcap"), test::pcap_file(records));
    auto r = test::run_nodrix({"-P", dir.file("all.pcap"), "--jobs", "1", "--statistic"});
    for (const char* row : {"IP reassembled\t5", "Frag. overlaps\t1", "Frag. dropped\t1", "Reasm. evicted\t0"})
        EXPECT_NE(r.out.find(row), std::string::npos) << row << "\n" << r.out.substr(r.out.find("More Protocols"));
}

// tshark reassembles too (by default): where it shows the UDP datagram or
// DNS message, so does nodrix, with the same values.
TEST(Reassembly, CompletingFramesAgreeWithTshark) {
    if (!test::tshark_available()) GTEST_SKIP() << "tshark is not installed";
    test::temp_dir dir;
    for (const fragment_case& c : cases()) {
        // tshark keeps overlapping IPv6 fragments; RFC 5722 drops them.
        if (std::string(c.name) == "ipv6_overlap_dropped") continue;
        std::string pcap = capture_file(dir, c);
        auto rows = test::tshark_fields(pcap, {"udp.length", "udp.srcport", "dns.count.answers"}, "",
                                        {"-o", "udp.check_checksum:FALSE"});
        auto lines = test::nodrix_json_lines(pcap, {"--jobs", "1"});
        ASSERT_EQ(rows.size(), lines.size()) << c.name;
        for (size_t i = 0; i < rows.size(); ++i) {
            bool completes = lines[i].find("\"reassembled_frames\"") != std::string::npos;
            if (rows[i][0].empty()) {
                EXPECT_FALSE(completes) << c.name << " frame " << i + 1;
                continue;
            }
            EXPECT_TRUE(completes || c.pieces[i].offset == 0) << c.name << " frame " << i + 1;
            EXPECT_EQ(rows[i][0], test::json_field(lines[i], "udp", "length")) << c.name << " frame " << i + 1;
            EXPECT_EQ(rows[i][1], test::json_field(lines[i], "udp", "src_port")) << c.name;
            if (!rows[i][2].empty()) {
                EXPECT_EQ(rows[i][2], test::json_field(lines[i], "dns", "answer_count")) << c.name;
            }
        }
    }
}

// TCP: a stream cut into segments of one direction, captured in the order
// given (after a SYN), with the expected text in a file as above.
struct stream_case {
    const char* name;
    uint16_t port;
    std::string stream;
    std::vector<uint32_t> cuts;  // segment starts; the last one ends the stream
    std::vector<size_t> order;   // of the segments
    bool syn = true;             // false: the capture joins the stream late
};

bytes tcp_frame(uint16_t port, uint32_t seq, uint8_t flags, const std::string& data) {
    bytes segment = ipf::tcp(flags, bytes(data.begin(), data.end()));
    test::put_be16(segment, 2, port);
    for (int i = 0; i < 4; ++i) segment[4 + i] = static_cast<uint8_t>(seq >> (24 - 8 * i));
    test::put_be16(segment, 16, 0);
    return ipf::ethernet(0x0800, ipf::ipv4(6, ipf::with_transport_checksum(segment, 6, 16)));
}

// A certificate with an EC key, about pad bytes longer than the least.
bytes certificate(const std::string& cn, long long serial, size_t pad) {
    using namespace berf;
    bytes name = seq({set({seq({oid("2.5.4.3"), berf::text(0x0c, cn)})})});
    bytes key = seq({seq({oid("1.2.840.10045.2.1"), oid("1.2.840.10045.3.1.7")}),
                     der(0x03, test::concat({test::hex("00 04"), bytes(64, 0x11)}))});
    bytes tbs = seq({tagged(0, {integer(2)}), integer(serial), seq({oid("1.2.840.10045.4.3.2")}), name,
                     seq({berf::text(0x17, "260101000000Z"), berf::text(0x17, "360101000000Z")}), name, key});
    return seq({tbs, seq({oid("1.2.840.10045.4.3.2")}), der(0x03, test::concat({test::hex("00"), bytes(pad, 0x5a)}))});
}

bytes be24(size_t n) {
    return bytes{static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
}

// Handshake messages in records of at most `fragment` body bytes.
bytes handshake_records(const bytes& messages, size_t fragment) {
    bytes out;
    for (size_t at = 0; at < messages.size(); at += fragment) {
        size_t n = std::min(fragment, messages.size() - at);
        bytes header = test::hex("16 0303 0000");
        test::put_be16(header, 3, static_cast<uint16_t>(n));
        out = test::concat({out, header, bytes(messages.begin() + static_cast<long>(at),
                                               messages.begin() + static_cast<long>(at + n))});
    }
    return out;
}

std::vector<stream_case> stream_cases() {
    auto text = [](const bytes& b) { return std::string(b.begin(), b.end()); };
    // A ClientHello (RFC 8446 4.1.2) without extensions, then two
    // application data records.
    std::string records = text(test::hex("16 0303 002f 01 00002b 0303" + std::string(64, '7') +
                                         " 00 0002 1301 01 00 0000 1703030004 61626364 1703030002 6566"));
    std::string pipelined =
        "POST /form HTTP/1.1\r\nHost: example.com\r\nContent-Length: 13\r\n\r\nname=value&x="
        "GET /next HTTP/1.1\r\nHost: example.com\r\n\r\n";
    std::string dns = text(test::hex("001d 1234 0100 0001 0000 0000 0000 076578616d706c6503636f6d00 0001 0001"
                                     "001d 1235 0100 0001 0000 0000 0000 076578616d706c6503636f6d00 001c 0001"));
    // An LDAP search result entry cut in three, and the search's end with
    // the entry's last bytes; a Kerberos AS-REP behind its record length,
    // cut inside the length.
    using namespace berf;
    std::string ldap = text(test::concat(
        {seq({integer(2), der(0x64, {octets("cn=alice,dc=example,dc=com"),
                                     seq({seq({octets("cn"), set({octets("alice")})}),
                                          seq({octets("mail"), set({octets("alice@example.com")})})})})}),
         seq({integer(2), der(0x65, {enumerated(0), octets(""), octets("")})})}));
    bytes as_rep = der(0x6b, {seq({tagged(0, {integer(5)}), tagged(1, {integer(11)}),
                                   tagged(3, {berf::text(0x1b, "EXAMPLE.COM")}),
                                   tagged(4, {seq({tagged(0, {integer(1)}), tagged(1, {seq({berf::text(0x1b, "alice")})})})})})});
    bytes record = test::hex("00000000");
    record[3] = static_cast<uint8_t>(as_rep.size());
    std::string kerberos = text(test::concat({record, as_rep}));
    // A server's TLS 1.2 flight: ServerHello, a Certificate of two in
    // records of 256 bytes, the last with ServerHelloDone behind it; then
    // ChangeCipherSpec.
    bytes chain;
    for (const bytes& c : {certificate("leaf.example", 0x3003, 300), certificate("Test CA", 0x1001, 320)})
        chain = test::concat({chain, be24(c.size()), c});
    bytes certificates = test::concat({test::hex("0b"), be24(chain.size() + 3), be24(chain.size()), chain});
    std::string flight = text(test::concat(
        {handshake_records(test::hex("02 000026 0303" + std::string(64, '5') + " 00 c02f 00"), 256),
         handshake_records(test::concat({certificates, test::hex("0e 000000")}), 256), test::hex("14 0303 0001 01")}));
    return {
        {"tcp_tls_certificate_records", 443, flight, {0, 100, 700}, {0, 1, 2}},
        {"tcp_dns_joined_late", 53, dns, {0, 10, 31}, {1, 2}, false},
        {"tcp_dns_lost_segment", 53, dns, {0, 10, 40}, {1, 2}},
        {"tcp_ldap_split_entry", 389, ldap, {0, 10, 40, 70}, {0, 1, 2, 3}},
        {"tcp_kerberos_split_record", 88, kerberos, {0, 2, 30}, {0, 1, 2}},
        {"tcp_tls_split_records", 443, records, {0, 20, 54, 60}, {0, 1, 2, 3}},
        {"tcp_tls_out_of_order", 443, records, {0, 20, 54, 60}, {2, 0, 3, 1}},
        {"tcp_http_pipelined", 80, pipelined, {0, 30, 70, 84, 100}, {0, 1, 2, 3, 4}},
        {"tcp_dns_two_messages", 53, dns, {0, 1, 25, 40}, {0, 1, 2, 3}},
    };
}

std::string stream_capture(const test::temp_dir& dir, const stream_case& c) {
    const uint32_t isn = 0xfffffff0;  // the sequence numbers wrap inside the stream
    std::vector<test::pcap_record> records;
    if (c.syn) records.push_back({tcp_frame(c.port, isn, 0x02, "")});
    std::vector<uint32_t> cuts = c.cuts;
    cuts.push_back(static_cast<uint32_t>(c.stream.size()));
    uint32_t second = c.syn ? 45297 : 45296;
    for (size_t i : c.order)
        records.push_back({tcp_frame(c.port, isn + 1 + cuts[i], 0x18, c.stream.substr(cuts[i], cuts[i + 1] - cuts[i])),
                           second++});
    std::string path = dir.file(std::string(c.name) + ".pcap");
    test::write_file(path, test::pcap_file(records));
    return path;
}

TEST(Reassembly, TcpMessagesAcrossSegmentsReadAsExpected) {
    test::temp_dir dir;
    for (const stream_case& c : stream_cases()) {
        auto r = test::run_nodrix({"-P", stream_capture(dir, c), "--jobs", "1"});
        EXPECT_EQ(r.status, 0) << c.name << r.err;
        std::string got = decode_region(r.out);
        if (getenv("NODRIX_WRITE_EXPECTED")) std::ofstream(expected_path(c.name)) << got;
        EXPECT_EQ(got, read_text(expected_path(c.name))) << c.name;
        // Frame by frame, as before.
        auto off = test::run_nodrix({"-P", stream_capture(dir, c), "--jobs", "1", "--no-reassembly"});
        EXPECT_EQ(off.out.find("[reassembled"), std::string::npos) << c.name;
    }
}

// tshark follows the streams too: the same DNS queries at the same frames,
// and the same HTTP requests in the same order (tshark waits for a body,
// nodrix shows a head once it is whole).
TEST(Reassembly, TcpMessagesAgreeWithTshark) {
    if (!test::tshark_available()) GTEST_SKIP() << "tshark is not installed";
    test::temp_dir dir;
    for (const stream_case& c : stream_cases()) {
        if (c.port == 443) continue;  // tshark reads port 443 as TLS only after a handshake it can follow
        if (c.port == 389 || c.port == 88) continue;  // compared in tests/decode/app/ber_peer_test.cpp
        if (!c.syn || c.order.size() != c.cuts.size()) continue;  // a stream not seen whole
        std::string pcap = stream_capture(dir, c);
        bool http = c.port == 80;
        auto rows = test::tshark_fields(pcap, {http ? "http.request.uri" : "dns.id"});
        auto lines = test::nodrix_json_lines(pcap, {"--jobs", "1"});
        ASSERT_EQ(rows.size(), lines.size()) << c.name;
        std::vector<std::string> theirs, ours;
        for (size_t i = 0; i < rows.size(); ++i) {
            if (!rows[i][0].empty())
                theirs.push_back(http ? rows[i][0]
                                      : std::to_string(i + 1) + " " + std::to_string(std::stoul(rows[i][0], nullptr, 0)));
            if (http) {
                // The last http layer is the whole head when there is one.
                std::string uri;
                for (int n = 0; !test::json_field(lines[i], "http", "uri", n).empty(); ++n)
                    uri = test::json_field(lines[i], "http", "uri", n);
                if (!uri.empty() && lines[i].find("\"head_continues\":true") == std::string::npos) ours.push_back(uri);
            } else {
                // A segment that starts inside a message still decodes its
                // own bytes as before; the whole message comes after.
                if (lines[i].find("\"reassembled_frames\"") == std::string::npos) continue;
                int last = test::json_layers(lines[i], "dns") - 1;
                ours.push_back(std::to_string(i + 1) + " " + test::json_field(lines[i], "dns", "id", last));
            }
        }
        EXPECT_EQ(theirs, ours) << c.name;
    }
}

}  // namespace
