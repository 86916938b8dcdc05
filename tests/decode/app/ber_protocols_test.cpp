// LDAP (RFC 4511), Kerberos (RFC 4120) and the X.509 certificates (RFC
// 5280) of a TLS 1.2 Certificate message, written with the DER writer of
// ber_frames.h. Expected texts: tests/data/ber_protocols.txt.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "app_frames.h"
#include "ber_frames.h"
#include "decode/expected_text.h"
#include "stats/counters.h"

namespace {

using namespace berf;
using test::bytes;
using test::hex;

const std::string base_dn = "dc=example,dc=com";

bytes ldap(long long id, const bytes& op) { return seq({integer(id), op}); }
bytes ldap_result(uint8_t tag, long long code, const std::string& matched, const std::string& diagnostic) {
    return der(tag, {enumerated(code), octets(matched), octets(diagnostic)});
}

bytes search_request() {
    bytes filter = der(0xa0, {der(0xa3, {octets("objectClass"), octets("person")}),
                              der(0xa4, {octets("cn"), seq({implicit(0, "al"), implicit(1, "ic"), implicit(2, "e")})}),
                              der(0xa2, {implicit(7, "mail")})});
    return ldap(2, der(0x63, {octets(base_dn), enumerated(2), enumerated(0), integer(100), integer(30), boolean(false),
                              filter, seq({octets("cn"), octets("mail")})}));
}

bytes entry_and_done() {
    bytes entry = ldap(2, der(0x64, {octets("cn=alice," + base_dn),
                                     seq({seq({octets("cn"), set({octets("alice")})}),
                                          seq({octets("objectClass"), set({octets("person"), octets("top")})})})}));
    return test::concat({entry, ldap(2, ldap_result(0x65, 0, "", ""))});
}

// Nested NOT filters, deeper than any real search.
bytes deep_filter() {
    bytes f = implicit(7, "cn");
    for (int i = 0; i < 40; ++i) f = der(0xa2, f);
    return ldap(3, der(0x63, {octets(""), enumerated(0), enumerated(0), integer(0), integer(0), boolean(false), f}));
}

bytes principal(int type, std::initializer_list<std::string> parts) {
    bytes names;
    for (const std::string& p : parts) names = test::concat({names, text(0x1b, p)});
    return seq({tagged(0, {integer(type)}), tagged(1, {der(0x30, names)})});
}
bytes realm() { return text(0x1b, "EXAMPLE.COM"); }
bytes krbtgt() { return principal(2, {"krbtgt", "EXAMPLE.COM"}); }

bytes ticket() {
    return der(
        0x61,
        {seq({tagged(0, {integer(5)}), tagged(1, {realm()}), tagged(2, {krbtgt()}),
              tagged(3, {seq({tagged(0, {integer(18)}), tagged(1, {integer(2)}), tagged(2, {octets("sealed")})})})})});
}

bytes as_req() {
    bytes pa =
        seq({seq({tagged(1, {integer(128)}), tagged(2, {octets(std::string("\x30\x05\xa0\x03\x01\x01\xff", 7))})})});
    bytes body = seq({tagged(0, {der(0x03, hex("00 50800000"))}), tagged(1, {principal(1, {"alice"})}),
                      tagged(2, {realm()}), tagged(3, {krbtgt()}), tagged(5, {text(0x18, "20261209170000Z")}),
                      tagged(7, {integer(12345678)}), tagged(8, {seq({integer(18), integer(17), integer(20)})})});
    return der(0x6a, {seq({tagged(1, {integer(5)}), tagged(2, {integer(10)}), tagged(3, {pa}), tagged(4, {body})})});
}

bytes krb_error() {
    return der(0x7e,
               {seq({tagged(0, {integer(5)}), tagged(1, {integer(30)}), tagged(4, {text(0x18, "20261208170000Z")}),
                     tagged(5, {integer(0)}), tagged(6, {integer(25)}), tagged(9, {realm()}), tagged(10, {krbtgt()}),
                     tagged(11, {text(0x1b, "NEEDED_PREAUTH")})})});
}

bytes as_rep() {
    return der(
        0x6b,
        {seq({tagged(0, {integer(5)}), tagged(1, {integer(11)}), tagged(3, {realm()}),
              tagged(4, {principal(1, {"alice"})}), tagged(5, {ticket()}),
              tagged(6, {seq({tagged(0, {integer(18)}), tagged(1, {integer(1)}), tagged(2, {octets("secret")})})})})});
}

bytes tgs_req() {
    bytes ap_req =
        der(0x6e,
            {seq({tagged(0, {integer(5)}), tagged(1, {integer(14)}), tagged(2, {der(0x03, hex("00 00000000"))}),
                  tagged(3, {ticket()}), tagged(4, {seq({tagged(0, {integer(18)}), tagged(2, {octets("auth")})})})})});
    bytes pa = seq({seq({tagged(1, {integer(1)}), tagged(2, {der(0x04, ap_req)})})});
    bytes body =
        seq({tagged(0, {der(0x03, hex("00 40810010"))}), tagged(2, {realm()}),
             tagged(3, {principal(3, {"host", "server.example.com"})}), tagged(5, {text(0x18, "20261209170000Z")}),
             tagged(7, {integer(7)}), tagged(8, {seq({integer(18), integer(23)})})});
    return der(0x6c, {seq({tagged(1, {integer(5)}), tagged(2, {integer(12)}), tagged(3, {pa}), tagged(4, {body})})});
}

bytes with_record_length(const bytes& m) {
    bytes length = hex("00000000");
    test::put_be16(length, 2, static_cast<uint16_t>(m.size()));
    return test::concat({length, m});
}

bytes name(const std::string& country, const std::string& org, const std::string& cn) {
    return seq({set({seq({oid("2.5.4.6"), text(0x13, country)})}), set({seq({oid("2.5.4.10"), text(0x0c, org)})}),
                set({seq({oid("2.5.4.3"), text(0x0c, cn)})})});
}

// A leaf with an EC P-256 key and alternative names, issued by a CA with a
// 2048-bit RSA key.
bytes leaf_certificate() {
    bytes point(65, 0x11);
    point[0] = 0x04;
    bytes key =
        seq({seq({oid("1.2.840.10045.2.1"), oid("1.2.840.10045.3.1.7")}), der(0x03, test::concat({hex("00"), point}))});
    bytes san = seq({text(0x82, "leaf.example"), der(0x87, hex("7f000001")), text(0x82, "www.leaf.example"),
                     der(0x87, hex("20010db8000000000000000000000001"))});
    bytes extensions = tagged(
        3,
        {seq({seq({oid("2.5.29.19"), boolean(true), der(0x04, seq({}))}), seq({oid("2.5.29.17"), der(0x04, san)})})});
    bytes tbs =
        seq({tagged(0, {integer(2)}), der(0x02, hex("1a2b3c4d")), seq({oid("1.2.840.113549.1.1.11")}),
             name("ZZ", "Test Org", "Test CA"), seq({text(0x17, "261208170000Z"), text(0x18, "20501231235959Z")}),
             name("ZZ", "Test Org", "leaf.example"), key, extensions});
    return seq({tbs, seq({oid("1.2.840.113549.1.1.11"), der(0x05, bytes{})}), der(0x03, hex("00 0102030405"))});
}

bytes ca_certificate() {
    bytes modulus(257, 0xc5);
    modulus[0] = 0;
    bytes key = seq({seq({oid("1.2.840.113549.1.1.1"), der(0x05, bytes{})}),
                     der(0x03, test::concat({hex("00"), seq({der(0x02, modulus), integer(65537)})}))});
    bytes tbs =
        seq({tagged(0, {integer(2)}), integer(1), seq({oid("1.2.840.10045.4.3.2")}), name("ZZ", "Test Org", "Test CA"),
             seq({text(0x17, "260101000000Z"), text(0x17, "360101000000Z")}), name("ZZ", "Test Org", "Test CA"), key});
    return seq({tbs, seq({oid("1.2.840.10045.4.3.2")}), der(0x03, hex("00 0a0b0c"))});
}

bytes be24(size_t n) {
    return bytes{static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
}

bytes certificate_record(std::initializer_list<bytes> certificates) {
    bytes list;
    for (const bytes& c : certificates) list = test::concat({list, be24(c.size()), c});
    bytes handshake = test::concat({hex("0b"), be24(list.size() + 3), be24(list.size()), list});
    bytes record = hex("16 0303 0000");
    test::put_be16(record, 3, static_cast<uint16_t>(handshake.size()));
    return test::concat({record, handshake});
}

struct ber_case {
    const char* name;  // also the section of tests/data/ber_protocols.txt
    bytes payload;
    uint16_t port;
    bool udp;
    bool expand;
    uint32_t protocol_counters::*counter;
    unsigned count;
};

std::vector<ber_case> cases() {
    auto L = &protocol_counters::ldap;
    auto K = &protocol_counters::kerberos;
    auto X = &protocol_counters::x509_certificates;
    bytes bind = ldap(1, der(0x60, {integer(3), octets("cn=admin," + base_dn), implicit(0, "secret")}));
    bytes sasl = ldap(1, der(0x60, {integer(3), octets(""), der(0xa3, {octets("GSSAPI"), octets("token")})}));
    bytes start_tls = test::concat(
        {ldap(1, der(0x77, {implicit(0, "1.3.6.1.4.1.1466.20037")})),
         ldap(1, der(0x78, {enumerated(0), octets(""), octets(""), implicit(10, "1.3.6.1.4.1.1466.20037")}))});
    bytes changes = test::concat(
        {ldap(4, der(0x66, {octets("cn=alice," + base_dn),
                            seq({seq({enumerated(2), seq({octets("mail"), set({octets("alice@example.com")})})})})})),
         ldap(5, der(0x68, {octets("cn=bob," + base_dn), seq({seq({octets("objectClass"), set({octets("person")})}),
                                                              seq({octets("sn"), set({octets("Smith")})})})})),
         ldap(6, text(0x4a, "cn=carol," + base_dn)),
         ldap(7, der(0x6c, {octets("cn=bob," + base_dn), octets("cn=robert"), boolean(true),
                            implicit(0, "ou=people," + base_dn)})),
         ldap(8, der(0x6e, {octets("cn=bob," + base_dn), seq({octets("sn"), octets("Smith")})})),
         ldap(9, der(0x50, hex("05"))), ldap(10, der(0x42, bytes{}))});
    return {
        {"ldap simple bind", bind, 389, false, false, L, 1},
        {"ldap simple bind expanded", bind, 389, false, true, L, 1},
        {"ldap sasl bind and response",
         test::concat({sasl, ldap(1, der(0x61, {enumerated(14), octets(""), octets(""), implicit(7, "more")}))}), 389,
         false, true, L, 1},
        {"ldap search request", search_request(), 389, false, false, L, 1},
        {"ldap search request expanded", search_request(), 389, false, true, L, 1},
        {"ldap entry and done in one segment", entry_and_done(), 389, false, true, L, 1},
        {"ldap no such object", ldap(3, ldap_result(0x65, 32, base_dn, "no such entry")), 3268, false, true, L, 1},
        {"ldap changes", changes, 389, false, true, L, 1},
        {"ldap start tls", start_tls, 389, false, true, L, 1},
        {"ldap connectionless", bind, 389, true, false, L, 1},
        {"ldap indefinite length", hex("30 80 020107 4200 0000"), 389, true, true, L, 1},
        {"ldap message continues", hex("30 40 020101 6305 0400"), 389, false, false, L, 1},
        {"ldap continuation", hex("0400 0a0100"), 389, false, false, L, 1},
        {"ldap length past the datagram", hex("30 40 020101 6305 0400"), 389, true, false, L, 1},
        {"ldap filter too deep", deep_filter(), 389, true, false, L, 1},
        {"kerberos as-req", as_req(), 88, true, false, K, 1},
        {"kerberos as-req expanded", as_req(), 88, true, true, K, 1},
        {"kerberos error", krb_error(), 88, true, true, K, 1},
        {"kerberos as-rep over tcp", with_record_length(as_rep()), 88, false, true, K, 1},
        {"kerberos tgs-req with ap-req", tgs_req(), 88, true, true, K, 1},
        {"kerberos record length past the segment", hex("00001000 6a03 300100"), 88, false, false, K, 1},
        {"tls certificates", certificate_record({leaf_certificate(), ca_certificate()}), 443, false, false, X, 2},
        {"tls certificates expanded", certificate_record({leaf_certificate(), ca_certificate()}), 443, false, true, X,
         2},
        {"tls certificate malformed", certificate_record({hex("30 03 3001 00")}), 443, false, true, X, 1},
    };
}

bytes frame_of(const ber_case& c) {
    return c.udp ? appf::udp4(c.payload, 40001, c.port) : appf::tcp4(c.payload, c.port);
}

std::string from_banner(const std::string& out) {
    for (const char* banner : {"- LDAP", "- Kerberos", "- TLS"}) {
        size_t at = out.find(banner);
        if (at != std::string::npos) return out.substr(at);
    }
    return "<no banner>\n" + out;
}

TEST(BerProtocols, TextAndCounters) {
    std::string all;
    for (const auto& c : cases()) {
        if (c.expand)
            test::reset({"expand-all", "verbose", "statistic"});
        else
            test::reset({"statistic"});
        std::string out = from_banner(ipf::decode_ethernet_frame(frame_of(c)));
        all += "=== " + std::string(c.name) + " ===\n" + out;
        EXPECT_EQ(out, test::expected_section("ber_protocols.txt", c.name)) << c.name;
        EXPECT_EQ(counters.*c.counter, c.count) << c.name;
    }
    // After a change of the text, NODRIX_WRITE_EXPECTED=1 writes the file
    // anew for review.
    if (getenv("NODRIX_WRITE_EXPECTED"))
        std::ofstream(std::string(NODRIX_SOURCE_DIR) + "/tests/data/ber_protocols.txt") << all;
}

// tests/data/ber_protocols.json.txt: per case a piece of the JSON line and
// the summary line's facts.
TEST(BerProtocols, JsonAndSummary) {
    for (const auto& c : cases()) {
        std::string expected = test::expected_section("ber_protocols.json.txt", c.name);
        if (expected.rfind("<no section", 0) == 0) continue;
        size_t newline = expected.find('\n');
        std::string piece = expected.substr(0, newline);
        std::string facts = expected.substr(newline + 1, expected.size() - newline - 2);
        bytes frame = frame_of(c);
        test::reset({"json"});
        std::string line = appf::json(frame);
        EXPECT_TRUE(test::valid_json(line)) << line;
        EXPECT_NE(line.find(piece), std::string::npos) << c.name << "\n" << line;
        test::reset({"summary"});
        line = test::decode_record(decode_ethernet, frame, 14);
        EXPECT_NE(line.find(facts), std::string::npos) << c.name << "\n" << line;
    }
}

TEST(BerProtocols, EveryPrefix) {
    for (const auto& c : cases()) {
        bytes frame = frame_of(c);
        EXPECT_EQ(test::invalid_json_prefix(decode_ethernet, frame, 14), "") << c.name;
        test::reset({"expand-all", "verbose", "statistic"});
        EXPECT_GT(test::decode_all_prefixes(decode_ethernet, frame, 14), 0) << c.name;
    }
}

}  // namespace
