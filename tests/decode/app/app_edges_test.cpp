// Lengths that lie, heads and records cut by the segment's end, and
// payloads that only look like a protocol.
#include <gtest/gtest.h>

#include "stream_frames.h"
#include "decode/decoder.h"
#include "decode/link/ethernet.h"

namespace {

using streamf::text_bytes;
using test::hex;

std::string app_text(const test::bytes& frame, const char* banner) {
    std::string text = test::decode(decode_ethernet, frame, 14);
    size_t at = text.find(banner);
    return at == std::string::npos ? "" : text.substr(at);
}

TEST(AppEdges, CutAndLyingLengths) {
    struct {
        const char* name;
        test::bytes frame;
        const char* banner;
        const char* want;  // "" when no decoder may take the payload
    } cases[] = {
        {"http head cut", streamf::tcp_frame(40000, 8080, text_bytes("GET /a HTTP/1.1\r\nHost: x\r\nAcc")), "- HTTP",
         "- HTTP Request -\n  Method: GET, URI: /a, Version: HTTP/1.1\n  Host: x\n  Acc\n"
         "  [head continues beyond this segment]\n"},
        {"http with body", streamf::tcp_frame(8080, 40000, text_bytes("HTTP/1.1 404 Not Found\r\nA: b\r\n\r\nxyz")),
         "- HTTP", "- HTTP Response -\n  Version: HTTP/1.1, Status: 404, Reason: Not Found\n  A: b\n  Body: 3 bytes\n"},
        {"not a request line", streamf::tcp_frame(40000, 8080, text_bytes("GET /a\r\n")), "- HTTP", ""},
        {"tls record cut", streamf::tcp_frame(40000, 9443, hex("16 0303 03e8 01 0003e4 0303")), "- TLS",
         "- TLS Record -\n  Content Type: 22, Version: 0x0303, Length: 1000\n  Handshake Type: 1, Length: 996\n"
         "  [record continues beyond this segment]\n"},
        // The cipher suite list claims 0x40 bytes inside a 39-byte hello.
        {"tls suites past the hello",
         streamf::tcp_frame(
             40000, 9443,
             test::concat({hex("16 0301 002b 01 000027 0303"), test::bytes(32, 0x11), hex("00 0040 1301")})),
         "- TLS",
         "- TLS Record -\n  Content Type: 22, Version: 0x0301, Length: 43\n  Handshake Type: 1, Length: 39\n"
         "  [malformed: a length runs past its record]\n"},
        {"tls then garbage", streamf::tcp_frame(40000, 9443, hex("15 0303 0002 02 28 ffff")), "- TLS",
         "- TLS Record -\n  Content Type: 21, Version: 0x0303, Length: 2\n  Alert Level: 2, Description: 40\n"
         "- TLS Record -\n  Unknown data: 2 bytes\n"},
        {"quic length past the datagram", streamf::udp_frame(50000, 443, hex("c0 00000001 00 00 00 4100 aabb")), "- QUIC",
         "- QUIC Packet -\n  Header Form: 1 (Long), Packet Type: 0\n  Version: 0x00000001\n  DCID Length: 0\n"
         "  SCID Length: 0\n  Token Length: 0\n  Length: 256 (protected payload)\n"
         "  [malformed: the packet runs past the datagram]\n"},
        {"quic unknown version off 443", streamf::udp_frame(50000, 5000, hex("c0 12345678 00 00 00")), "- QUIC", ""},
        {"geneve option past its options",
         streamf::udp_frame(40000, 6081, hex("01 00 6558 000001 00 0102 80 02 00000000")), "- Geneve",
         "- Geneve Header -\n  Protocol: 0x6558, VNI: 1\n  [malformed: an option runs past the options]\n"},
    };
    for (const auto& c : cases) {
        // HTTP header lines show under --expand-all.
        if (!strcmp(c.banner, "- HTTP"))
            test::reset({"statistic", "expand-all"});
        else
            test::reset({"statistic"});
        std::string got = app_text(c.frame, c.banner);
        EXPECT_EQ(got, c.want) << c.name;
        if (*c.want) {
            EXPECT_EQ(counters.http + counters.tls + counters.quic + counters.geneve, 1u) << c.name;
        }
        EXPECT_GE(test::decode_all_prefixes(decode_ethernet, c.frame, 14), 0);
        test::reset({"json"});
        EXPECT_TRUE(test::valid_json(test::decode_record(decode_ethernet, c.frame, 14))) << c.name;
    }
}

}  // namespace
