// Checksum verdicts over a mix of traffic: intact frames are all judged
// correct, and any changed byte is judged wrong with the value the field
// should hold, computed here independently of the decoders.
#include <gtest/gtest.h>

#include "decode/decoder.h"
#include "ip_frames.h"

namespace {

using test::bytes;
using test::hex;

bytes tagged(const bytes& ip) {
    bytes frame = ipf::ethernet(0x8100, test::concat({hex("a064 0800"), ip}));
    return frame;
}

std::vector<bytes> traffic_mix() {
    bytes request;
    for (const char* p = "GET /index.html HTTP/1.1\r\nHost: example.test\r\n\r\n"; *p; ++p) request.push_back(*p);
    bytes timestamps = hex("0101080a 12345678 9abcdef0");
    bytes dns(61);
    for (size_t i = 0; i < dns.size(); ++i) dns[i] = static_cast<uint8_t>(i * 37 + 11);
    auto padded = [](bytes frame) {
        frame.resize(60, 0xa5);
        return frame;
    };
    return {
        ipf::ethernet(0x0800, ipf::ipv4(6, ipf::tcp(0x18, request, timestamps))),
        ipf::ethernet(0x0800, ipf::ipv4(6, ipf::tcp(0x10, {}, timestamps))),
        ipf::ethernet(0x0800, ipf::ipv4(17, ipf::udp(dns, 53001, 53))),
        ipf::ethernet(0x0800, ipf::ipv4(1, ipf::icmp(8, 0, hex("0001 0001 6162636465666768")))),
        tagged(ipf::ipv4(6, ipf::tcp(0x18, request))),
        padded(ipf::ethernet(0x0800, ipf::ipv4(6, ipf::tcp(0x10, {})))),
        padded(ipf::ethernet(0x0800, ipf::ipv4(17, ipf::udp(hex("616263"))))),
        padded(ipf::ethernet(0x0800, ipf::ipv4(1, ipf::icmp(0, 0, hex("0001 0002 61"))))),
        ipf::ethernet(0x0800, ipf::ipv4(17, ipf::udp(hex("0102")), hex("94040000"))),
    };
}

// Where the IPv4 header starts in a frame of traffic_mix().
size_t ip_start(const bytes& frame) { return frame[12] == 0x81 ? 18 : 14; }

std::string verdict(uint16_t transmitted, uint16_t computed) {
    return transmitted == computed ? " (correct checksum)"
                                   : " (incorrect checksum - should be " + ipf::hex16(computed) + ")";
}

// The two checksum lines the decoders should print for this frame.
std::pair<std::string, std::string> expected_lines(const bytes& frame) {
    size_t ip = ip_start(frame);
    size_t ihl = (frame[ip] & 0x0f) * 4u;
    bytes header(frame.begin() + ip, frame.begin() + ip + ihl);
    uint16_t header_sent = ipf::be16_at(header, 10);
    header[10] = header[11] = 0;
    std::string ip_line = "  Checksum: " + ipf::hex16(header_sent) + verdict(header_sent, test::inet_checksum(header));

    uint8_t protocol = frame[ip + 9];
    size_t end = ip + ipf::be16_at(frame, ip + 2);
    bytes message(frame.begin() + ip + ihl, frame.begin() + end);
    // UDP covers its own length (RFC 768).
    if (protocol == 17) message.resize(ipf::be16_at(message, 4));
    size_t field = protocol == 6 ? 16 : protocol == 17 ? 6 : 2;
    uint16_t sent = ipf::be16_at(message, field);
    message[field] = message[field + 1] = 0;
    uint16_t computed;
    std::string prefix = protocol == 17 ? "Checksum: " : "  Checksum: ";
    if (protocol == 1) {
        computed = test::inet_checksum(message);
    } else {
        bytes pseudo = test::concat({bytes(frame.begin() + ip + 12, frame.begin() + ip + 20), hex("0000 0000")});
        pseudo[9] = protocol;
        test::put_be16(pseudo, 10, static_cast<uint16_t>(message.size()));
        computed = test::inet_checksum(test::concat({pseudo, message}));
        if (protocol == 17 && computed == 0) computed = 0xffff;
    }
    std::string line = prefix + ipf::hex16(sent) + (protocol == 17 && sent == 0 ? "" : verdict(sent, computed));
    return {ip_line + "\n", line + "\n"};
}

TEST(IpChecksums, TrafficMixIsJudgedCorrect) {
    test::reset({"calc-checksums", "statistic"});
    for (const bytes& frame : traffic_mix()) {
        std::string out = ipf::decode_ethernet_frame(frame);
        auto [ip_line, transport_line] = expected_lines(frame);
        EXPECT_NE(out.find(ip_line), std::string::npos) << out;
        EXPECT_NE(out.find(transport_line), std::string::npos) << out;
        EXPECT_EQ(out.find("incorrect"), std::string::npos) << out;
    }
    EXPECT_EQ(counters.ipv4_bad + counters.tcp_bad + counters.udp_bad + counters.icmpv4_bad, 0u);
    EXPECT_EQ(counters.ipv4, 9u);
}

TEST(IpChecksums, EveryChangedByteIsJudged) {
    for (const bytes& original : traffic_mix()) {
        size_t ip = ip_start(original);
        size_t end = ip + ipf::be16_at(original, ip + 2);
        for (size_t i = ip; i < end; ++i) {
            // The version, length, fragment and protocol bytes change what
            // is decoded.
            size_t at = i - ip;
            if (at == 0 || at == 2 || at == 3 || at == 6 || at == 7 || at == 9) continue;
            // So do the UDP length bytes (what the checksum covers).
            size_t ihl = (original[ip] & 0x0f) * 4u;
            if (original[ip + 9] == 17 && (at == ihl + 4 || at == ihl + 5)) continue;
            bytes frame = original;
            frame[i] ^= 0x5a;
            auto [ip_line, transport_line] = expected_lines(frame);
            test::reset({"calc-checksums", "statistic"});
            std::string out = ipf::decode_ethernet_frame(frame);
            ASSERT_NE(out.find(ip_line), std::string::npos) << "byte " << at << "\n" << ip_line << out;
            ASSERT_NE(out.find(transport_line), std::string::npos) << "byte " << at << "\n" << transport_line << out;
            uint32_t bad = counters.ipv4_bad + counters.tcp_bad + counters.udp_bad + counters.icmpv4_bad;
            uint32_t wrong_lines = (ip_line.find("incorrect") != std::string::npos) +
                                   (transport_line.find("incorrect") != std::string::npos);
            EXPECT_EQ(bad, wrong_lines) << "byte " << at;
            EXPECT_GE(wrong_lines, 1u) << "byte " << at;
        }
    }
}

}  // namespace
