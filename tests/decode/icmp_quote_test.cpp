// The datagram an ICMP or ICMPv6 error quotes: shown under --expand-all,
// always recorded, and never read beyond the quote.
#include <gtest/gtest.h>

#include "expected_text.h"
#include "ip_frames.h"
#include "stats/counters.h"

namespace {

using test::bytes;
using test::hex;

// What a router sends back: the offending datagram from 10.0.0.200 to
// 192.0.2.1 (ipf's addresses swapped), cut after `keep` bytes.
bytes quote_v4(uint8_t protocol, const std::string& transport, size_t keep = 1000, const std::string& flags = "0000") {
    bytes h = hex("45000000 1234" + flags + "01000000 0a0000c8 c0000201");
    h[9] = protocol;
    test::put_be16(h, 2, static_cast<uint16_t>(20 + hex(transport).size()));
    test::put_be16(h, 10, test::inet_checksum(h));
    bytes d = test::concat({h, hex(transport)});
    if (d.size() > keep) d.resize(keep);
    return d;
}

bytes icmp4(uint8_t type, uint8_t code, const bytes& quote) {
    return ipf::ipv4(1, ipf::icmp(type, code, test::concat({hex("00000000"), quote})));
}

bytes icmp6(uint8_t type, uint8_t code, const std::string& word, const bytes& quote) {
    return ipf::ipv6(58, ipf::icmp(type, code, test::concat({hex(word), quote})));
}

const std::string udp_probe = "9c41 829a 0014 0000 6162636465666768696a6b6c";
const std::string tcp_syn = "9c41 0050 000003e8 00000000 5002 16d0 0000 0000";
const std::string echo = "0800 0000 1a2b 0005 61626364";
const std::string v6_udp =
    "60000000 0010 11 01 20010db8000000000000000000000002 20010db8000000000000000000000009 "
    "9c41 829a 0010 0000 6162636465666768";

const struct quote_case {
    const char* name;
    bytes packet;
    const char* expected_file;  // the text from the quote's banner on
} cases[] = {
    {"port unreachable, UDP", icmp4(3, 3, quote_v4(17, udp_probe)), "icmp_quote_udp.txt"},
    {"time exceeded, TCP, 8 bytes", icmp4(11, 0, quote_v4(6, tcp_syn, 28)), "icmp_quote_tcp.txt"},
    {"time exceeded, echo request", icmp4(11, 0, quote_v4(1, echo)), "icmp_quote_echo.txt"},
    {"quote shorter than a header", icmp4(3, 1, quote_v4(17, udp_probe, 10)), "icmp_quote_short.txt"},
    {"header length beyond the quote",
     icmp4(3, 3,
           [] {
               bytes q = quote_v4(17, udp_probe, 28);
               q[0] = 0x4f;
               return q;
           }()),
     "icmp_quote_bad_ihl.txt"},
    {"later fragment", icmp4(3, 4, quote_v4(17, udp_probe, 28, "00b9")), "icmp_quote_fragment.txt"},
    {"ICMPv6 unreachable, UDP", icmp6(1, 4, "00000000", hex(v6_udp)), "icmp6_quote_udp.txt"},
    {"ICMPv6 too big, 2 transport bytes",
     icmp6(2, 0, "000004d8",
           [] {
               bytes q = hex(v6_udp);
               q.resize(42);
               return q;
           }()),
     "icmp6_quote_cut.txt"},
};

std::string quote_text(const std::string& text) {
    size_t at = text.find("  - Quoted");
    return at == std::string::npos ? "" : text.substr(at);
}

TEST(IcmpQuote, ExpandedText) {
    for (const auto& c : cases) {
        test::reset({"expand-all", "verbose", "statistic"});
        EXPECT_EQ(quote_text(ipf::decode_ip(c.packet)), test::expected_text(c.expected_file)) << c.name;
        EXPECT_EQ(counters.icmp_quote, 1u) << c.name;
        // The default text ends with the ICMP lines, as it always did.
        test::reset({});
        EXPECT_EQ(quote_text(ipf::decode_ip(c.packet)), "") << c.name;
    }
}

TEST(IcmpQuote, RecordsAndSummary) {
    const struct {
        size_t index;
        const char* json;
        const char* summary;
    } parts[] = {
        {0,
         "\"icmp_quote\":{\"version\":4,\"src\":\"10.0.0.200\",\"dst\":\"192.0.2.1\",\"protocol\":17,"
         "\"ttl\":1,\"length\":40,\"id\":4660,\"src_port\":40001,\"dst_port\":33434,\"udp_length\":20}",
         "Destination unreachable, quoting UDP 10.0.0.200.40001 > 192.0.2.1.33434"},
        {2, "\"icmp_type\":8,\"icmp_code\":0,\"icmp_identifier\":6699,\"icmp_seq\":5}",
         "Time exceeded, quoting ICMP 10.0.0.200 > 192.0.2.1"},
        {6,
         "\"icmp_quote\":{\"version\":6,\"src\":\"2001:db8::2\",\"dst\":\"2001:db8::9\",\"next_header\":17,"
         "\"hop_limit\":1,\"payload_length\":16,\"src_port\":40001,\"dst_port\":33434,\"udp_length\":16}",
         "quoting UDP 2001:db8::2.40001 > 2001:db8::9.33434"},
    };
    for (const auto& p : parts) {
        test::reset({"json"});
        std::string line = test::decode_record(decode_ip_version, cases[p.index].packet);
        EXPECT_TRUE(test::valid_json(line)) << line;
        EXPECT_NE(line.find(p.json), std::string::npos) << cases[p.index].name << "\n" << line;
        test::reset({"summary"});
        line = test::decode_record(decode_ip_version, cases[p.index].packet);
        EXPECT_NE(line.find(p.summary), std::string::npos) << cases[p.index].name << "\n" << line;
    }
}

TEST(IcmpQuote, EveryPrefix) {
    for (const auto& c : cases) {
        EXPECT_EQ(test::invalid_json_prefix(decode_ip_version, c.packet), "") << c.name;
        test::reset({"expand-all", "verbose", "statistic", "calc-checksums"});
        EXPECT_GT(test::decode_all_prefixes(decode_ip_version, c.packet), 0) << c.name;
    }
}

}  // namespace
