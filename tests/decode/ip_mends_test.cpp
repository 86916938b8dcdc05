// Frames built from the RFCs where the plain reading of a header went
// wrong: empty TCP payloads, fragments, UDP length, GRE options, protocols
// behind IPv6, and transport checksums over IPv6 and from offloading senders.
#include <gtest/gtest.h>

#include "decode/decoder.h"
#include "ip_frames.h"

using test::bytes;
using test::hex;

namespace {

const bytes v6_source = hex("20010db8000000000000000000000001");
const bytes v6_destination = hex("20010db8000000000000000000000002");
const bytes v6_final = hex("20010db80000000000000000000000ff");

// RFC 8200 8.1: source, destination, 32-bit upper-layer length, three
// zero bytes, next header; then the message. The RFC 1071 sum is the test
// helper's, not the decoder's.
uint16_t v6_checksum(const bytes& destination, uint8_t protocol, bytes message, size_t field) {
    message[field] = message[field + 1] = 0;
    bytes pseudo = test::concat({v6_source, destination, hex("00000000 000000 00")});
    pseudo[34] = static_cast<uint8_t>(message.size() >> 8);
    pseudo[35] = static_cast<uint8_t>(message.size());
    pseudo[39] = protocol;
    uint16_t sum = test::inet_checksum(test::concat({pseudo, message}));
    return protocol == 17 && sum == 0 ? 0xffff : sum;
}

// The folded pseudo-header sum alone: what an offloading sender leaves.
uint16_t pseudo_only(const bytes& pseudo) { return static_cast<uint16_t>(~test::inet_checksum(pseudo)); }

bytes tcp_segment(uint8_t flags, const bytes& payload, uint16_t port) {
    bytes s = ipf::tcp(flags, payload);
    test::put_be16(s, 2, port);
    test::put_be16(s, 16, 0);
    return ipf::with_transport_checksum(s, 6, 16);
}

size_t field_of(uint8_t protocol) { return protocol == 6 ? 16 : protocol == 17 ? 6 : 2; }

}  // namespace

TEST(IpMends, EmptyTcpPayloadGoesToNoApplicationDecoder) {
    for (uint16_t port : {179, 639, 6068}) {
        test::reset({"calc-checksums"});
        // A pure ACK, padded to the Ethernet minimum.
        bytes ack = ipf::ethernet(0x0800, ipf::ipv4(6, tcp_segment(0x10, {}, port)));
        ack.resize(60, 0);
        std::string out = ipf::decode_ethernet_frame(ack);
        EXPECT_EQ(ipf::slice(out, "- TCP Header -").find("Header -", 14), std::string::npos) << port << out;
        EXPECT_EQ(out.find("[malformed"), std::string::npos) << port << out;
    }
    // With a message the decoder still gets it: a BGP keep-alive.
    test::reset({});
    bytes keepalive = hex("ffffffffffffffffffffffffffffffff 0013 04");
    std::string out = ipf::decode_ip(ipf::ipv4(6, tcp_segment(0x18, keepalive, 179)));
    EXPECT_NE(out.find("- BGP Header -\n  Marker: \"................\"\n  Length: 19, Type: 4\n"), std::string::npos)
        << out;
}

TEST(IpMends, FragmentsGetNoTransportVerdictAndOnlyTheFirstIsDecoded) {
    // A UDP datagram of 1,008 bytes whose checksum covers all of it, sent
    // in two IPv4 fragments (RFC 791): 8 + 16 bytes first, the rest later.
    bytes payload(1000, 0x61);
    bytes datagram = ipf::udp(payload);
    bytes first_part(datagram.begin(), datagram.begin() + 24);
    bytes first = ipf::ipv4(17, first_part);
    first[6] = 0x20;  // more fragments
    test::put_be16(first, 10, 0);
    test::put_be16(first, 10, test::inet_checksum(bytes(first.begin(), first.begin() + 20)));
    bytes rest(datagram.begin() + 24, datagram.end());
    bytes later = ipf::ipv4(17, rest);
    later[7] = 3;  // offset 24 bytes
    test::put_be16(later, 10, 0);
    test::put_be16(later, 10, test::inet_checksum(bytes(later.begin(), later.begin() + 20)));

    test::reset({"calc-checksums", "statistic"});
    // Each fragment as it stands; reassembly has tests of its own.
    settings.no_reassembly = true;
    std::string out = ipf::decode_ip(first);
    EXPECT_NE(out.find("- UDP Header -"), std::string::npos) << out;
    EXPECT_NE(out.find(", Checksum: " + ipf::hex16(ipf::be16_at(datagram, 6)) + "\n"), std::string::npos) << out;
    out = ipf::decode_ip(later);
    EXPECT_EQ(out.find("- UDP Header -"), std::string::npos) << out;
    EXPECT_EQ(counters.udp_bad, 0u);

    // IPv6 (RFC 8200 4.5): a first fragment and a later one of a TCP
    // segment; neither is judged nor read as TCP past its first bytes.
    for (const char* fragment : {"06 00 0001 12345678", "06 00 0018 12345678"}) {
        test::reset({"calc-checksums", "statistic"});
        out = ipf::decode_ip(ipf::ipv6(44, test::concat({hex(fragment), ipf::tcp(0x18, hex("6869"))})));
        EXPECT_EQ(out.find("checksum)"), std::string::npos) << out;
        EXPECT_EQ(counters.tcp_bad, 0u);
        if (std::string(fragment) == "06 00 0018 12345678") {
            EXPECT_EQ(out.find("- TCP Header -"), std::string::npos) << out;
        }
    }
}

TEST(IpMends, UdpChecksumCoversTheUdpLength) {
    // RFC 768: the datagram is UDP-length bytes; the IP payload holds four
    // more behind it.
    bytes datagram = ipf::udp(hex("0102030405"));
    for (bool over_ipv6 : {false, true}) {
        if (over_ipv6) test::put_be16(datagram, 6, v6_checksum(v6_destination, 17, datagram, 6));
        bytes payload = test::concat({datagram, hex("deadbeef")});
        test::reset({"calc-checksums", "statistic"});
        std::string out = ipf::decode_ip(over_ipv6 ? ipf::ipv6(17, payload) : ipf::ipv4(17, payload));
        EXPECT_NE(
            out.find("  Length: 13, Checksum: " + ipf::hex16(ipf::be16_at(datagram, 6)) + " (correct checksum)\n"),
            std::string::npos)
            << out;
        EXPECT_EQ(counters.udp_bad, 0u);
    }
    // A length beyond the IP payload leaves nothing to judge.
    bytes claims_more = datagram;
    test::put_be16(claims_more, 4, 40);
    test::reset({"calc-checksums", "statistic"});
    EXPECT_EQ(ipf::slice(ipf::decode_ip(ipf::ipv4(17, claims_more)), "- UDP").find("checksum)"), std::string::npos);
}

TEST(IpMends, GreOptionalFieldsAreShownAndSkipped) {
    bytes inner = ipf::ipv4(1, ipf::icmp(8, 0, hex("0001 0002")));
    // RFC 2890: key and sequence number; RFC 2784: checksum over header and
    // payload.
    bytes keyed = test::concat({hex("3000 0800 0000002a 00000007"), inner});
    bytes summed = test::concat({hex("b000 0800 0000 0000 0000002a 00000007"), inner});
    test::put_be16(summed, 4, test::inet_checksum(summed));
    bytes bad = summed;
    bad[5] ^= 1;
    struct {
        const char* name;
        bytes gre;
        const char* lines;
        uint32_t bad;
    } cases[] = {
        {"key and sequence", keyed, "  Protocol: 0x0800\n  Key: 0x0000002a\n  Sequence Number: 7\n\n- IPv4 Header -",
         0},
        {"checksum", summed, " (correct checksum)\n  Key: 0x0000002a\n  Sequence Number: 7\n\n- IPv4 Header -", 0},
        {"bad checksum", bad, " (incorrect checksum - should be ", 0},
    };
    for (const auto& c : cases) {
        test::reset({"calc-checksums", "statistic"});
        std::string out = ipf::decode_ip(ipf::ipv4(47, c.gre));
        EXPECT_NE(out.find(c.lines), std::string::npos) << c.name << "\n" << out;
        // The inner packet is read where it begins.
        EXPECT_NE(out.find("- ICMPv4 Header -\n  Type: 8\n"), std::string::npos) << c.name << "\n" << out;
    }
}

TEST(IpMends, ProtocolsBehindIpv6GoToTheirDecoders) {
    bytes ospfv3_hello = hex("03 01 0024 01010101 00000001 0000 05 00 00000005 01 000013 000a 0028 00000000 00000000");
    struct {
        uint8_t next_header;
        bytes payload;
        const char* banner;
    } cases[] = {
        {4, ipf::ipv4(17, ipf::udp(hex("61"))), "- IPv4 Header -"},
        {47, test::concat({hex("0000 86dd"), ipf::ipv6(59, {})}), "- GREv0 Header -"},
        {89, ospfv3_hello, "- OSPF Header -\n  Version: 3"},
        {112, hex("31 01 64 01 00 00 0000 c0000201 0000000000000000"), "- VRRP Header -"},
        {97, test::concat({hex("0300 0a0000000001 0a0000000002 0800"), ipf::ipv4(59, {})}), "- EtherIP Header -"},
        {132, hex("0b59 0b5a 01020304 a1b2c3d4"), "- SCTP Header -"},
    };
    for (const auto& c : cases) {
        test::reset({});
        std::string out = ipf::decode_ip(ipf::ipv6(c.next_header, c.payload));
        EXPECT_NE(out.find(c.banner), std::string::npos) << int(c.next_header) << "\n" << out;
    }
}

TEST(IpMends, Ipv6TransportChecksumsFollowTheHeaderChain) {
    bytes tcp = ipf::tcp(0x18, hex("68656c6c6f"));
    bytes udp = ipf::udp(hex("0102030405"));
    bytes icmp = hex("80 00 0000 1234 0001 6162");
    // Hop-by-hop with padding; routing type 0, one segment left, whose last
    // address is the final destination; an atomic fragment (RFC 6946).
    bytes hop_by_hop = hex("00 00 01 04 00000000");
    bytes routing = test::concat({hex("00 02 00 01 00000000"), v6_final});
    bytes atomic_fragment = hex("00 00 0000 12345678");
    struct {
        const char* name;
        bytes chain;  // extension headers, next header patched in
        std::vector<uint8_t> chain_types;
        const bytes& destination;
    } chains[] = {
        {"none", {}, {}, v6_destination},
        {"hop-by-hop", hop_by_hop, {0}, v6_destination},
        {"routing", routing, {43}, v6_final},
        {"hop-by-hop and routing", test::concat({hop_by_hop, routing}), {0, 43}, v6_final},
        {"atomic fragment", atomic_fragment, {44}, v6_destination},
    };
    for (const auto& chain : chains) {
        for (uint8_t protocol : {6, 17, 58}) {
            bytes message = protocol == 6 ? tcp : protocol == 17 ? udp : icmp;
            size_t field = field_of(protocol);
            test::put_be16(message, field, v6_checksum(chain.destination, protocol, message, field));
            for (bool corrupt : {false, true}) {
                bytes sent = message;
                if (corrupt) sent.back() ^= 0x10;
                // Patch each extension header's next header field.
                bytes headers = chain.chain;
                size_t at = 0;
                for (size_t i = 0; i < chain.chain_types.size(); ++i) {
                    uint8_t next = i + 1 < chain.chain_types.size() ? chain.chain_types[i + 1] : protocol;
                    headers[at] = next;
                    at += chain.chain_types[i] == 44 ? 8 : (headers[at + 1] + 1u) * 8u;
                }
                uint8_t first = chain.chain_types.empty() ? protocol : chain.chain_types[0];
                test::reset({"calc-checksums", "statistic"});
                std::string out = ipf::decode_ip(ipf::ipv6(first, test::concat({headers, sent})));
                std::string what = std::string(chain.name) + " / " + std::to_string(protocol) +
                                   (corrupt ? " corrupt" : "") + "\n" + out;
                // Until the fragment header has its decoder, nothing behind
                // it is shown.
                if (out.find(protocol == 58 ? "- ICMPv6 Header -" : "Src Port") == std::string::npos &&
                    chain.chain_types == std::vector<uint8_t>{44})
                    continue;
                uint16_t transmitted = ipf::be16_at(sent, field);
                std::string value = ipf::hex16(transmitted);
                if (!corrupt) {
                    EXPECT_NE(out.find(value + " (correct checksum)\n"), std::string::npos) << what;
                } else {
                    uint16_t should = v6_checksum(chain.destination, protocol, sent, field);
                    EXPECT_NE(out.find(value + " (incorrect checksum - should be " + ipf::hex16(should) + ")\n"),
                              std::string::npos)
                        << what;
                }
                uint32_t bad = protocol == 6    ? counters.tcp_bad
                               : protocol == 17 ? counters.udp_bad
                                                : counters.icmpv6_bad;
                EXPECT_EQ(bad, corrupt ? 1u : 0u) << what;
            }
        }
    }
}

TEST(IpMends, ZeroUdpChecksumOverIpv6IsWrongOutsideTunnels) {
    // RFC 8200 8.1 forbids it; RFC 6935 allows it for tunnel protocols.
    struct {
        uint16_t port;
        bool judged;
    } cases[] = {{53, true}, {4789, false}, {6081, false}};
    for (const auto& c : cases) {
        bytes datagram = ipf::udp(hex("0102"), 40001, c.port);
        test::put_be16(datagram, 6, 0);
        test::reset({"calc-checksums", "statistic"});
        std::string out = ipf::decode_ip(ipf::ipv6(17, datagram));
        if (c.judged)
            EXPECT_NE(out.find(", Checksum: 0x0000 (incorrect checksum - should be " +
                               ipf::hex16(v6_checksum(v6_destination, 17, datagram, 6)) + ")\n"),
                      std::string::npos)
                << out;
        else
            EXPECT_NE(out.find(", Checksum: 0x0000\n"), std::string::npos) << out;
        EXPECT_EQ(counters.udp_bad, c.judged ? 1u : 0u) << c.port;
    }
}

TEST(IpMends, OffloadedChecksumsAreNamedNotCounted) {
    bytes v4_pseudo = test::concat({ipf::source_address, ipf::destination_address, hex("0006 0000")});
    bytes v6_pseudo = test::concat({v6_source, v6_destination, hex("00000000 00000006")});
    for (bool over_ipv6 : {false, true}) {
        bytes segment = ipf::tcp(0x18, hex("6869"));
        bytes& pseudo = over_ipv6 ? v6_pseudo : v4_pseudo;
        if (over_ipv6)
            pseudo[35] = static_cast<uint8_t>(segment.size());
        else
            test::put_be16(pseudo, 10, static_cast<uint16_t>(segment.size()));
        test::put_be16(segment, 16, pseudo_only(pseudo));
        bytes packet = over_ipv6 ? ipf::ipv6(6, segment) : ipf::ipv4(6, segment);
        test::reset({"calc-checksums", "statistic"});
        std::string out = ipf::decode_ip(packet);
        EXPECT_NE(out.find("  Checksum: " + ipf::hex16(ipf::be16_at(segment, 16)) + " (checksum offloaded)\n"),
                  std::string::npos)
            << out;
        EXPECT_EQ(counters.tcp_bad, 0u);
        test::reset({"json", "calc-checksums"});
        std::string line = test::decode_record(decode_ip_version, packet, 0);
        EXPECT_NE(line.find("\"checksum_offloaded\":true"), std::string::npos) << line;
        EXPECT_EQ(line.find("\"checksum_ok\":false"), std::string::npos) << line;
    }
}
