// Differential test: MPLS stacks and a few routing messages, built from
// their RFCs, decoded by nodrix (--json) and by tshark; every field both
// decode must agree.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "peer.h"
#include "support.h"

namespace {

using test::bytes;
using test::hex;

bytes ethernet(const char* type, const bytes& payload) {
    return test::concat({hex("020000000002 020000000001"), hex(type), payload});
}

bytes ipv4(uint8_t protocol, const bytes& payload, const char* dst = "0a000002") {
    bytes ip = test::concat({hex("4500 0000 0001 0000 40 00 0000 0a000001"), hex(dst)});
    test::put_be16(ip, 2, static_cast<uint16_t>(20 + payload.size()));
    ip[9] = protocol;
    test::put_be16(ip, 10, test::inet_checksum(ip));
    return test::concat({ip, payload});
}

bytes udp(uint16_t port, const bytes& payload) {
    bytes h = hex("0000 0000 0000 0000");
    test::put_be16(h, 0, port);
    test::put_be16(h, 2, port);
    test::put_be16(h, 4, static_cast<uint16_t>(8 + payload.size()));
    return test::concat({h, payload});
}

// Each segment from a port of its own: one stream per message.
bytes tcp(uint16_t port, const bytes& payload, uint16_t source_port) {
    bytes h = hex("0000 0000 00000001 00000001 5018 2000 0000 0000");
    test::put_be16(h, 0, source_port);
    test::put_be16(h, 2, port);
    return test::concat({h, payload});
}

// One label stack entry (RFC 3032).
std::string entry(uint32_t label, unsigned traffic_class, bool bottom, unsigned ttl) {
    char text[9];
    snprintf(text, sizeof text, "%08x", label << 12 | traffic_class << 9 | (bottom ? 1u : 0u) << 8 | ttl);
    return text;
}

// All values of `key` inside a JSON array text, joined by ','.
std::string values_in(const std::string& array, const std::string& key) {
    std::string out, wanted = "\"" + key + "\":";
    for (size_t at = array.find(wanted); at != std::string::npos; at = array.find(wanted, at + 1)) {
        size_t v = at + wanted.size(), end = array.find_first_of(",}", v);
        if (!out.empty()) out += ",";
        out += array.substr(v, end - v);
    }
    return out;
}

// tshark writes some numbers in hex ("0x1a2b"): compare as numbers.
std::string as_decimal(const std::string& v) {
    if (v.rfind("0x", 0) != 0) return v;
    return std::to_string(std::strtoul(v.c_str(), nullptr, 16));
}

struct compared {
    const char* tshark;  // tshark field
    const char* proto;   // nodrix layer
    const char* key;     // nodrix key (inside "labels" items for MPLS)
};

struct peer_case {
    const char* name;
    bytes frame;
    std::vector<compared> fields;
};

std::vector<peer_case> cases() {
    const std::vector<compared> mpls = {
        {"mpls.label", "mpls", "label"},
        {"mpls.exp", "mpls", "traffic_class"},
        {"mpls.bottom", "mpls", "bottom_of_stack"},
        {"mpls.ttl", "mpls", "ttl"},
    };
    auto with = [](std::vector<compared> base, std::initializer_list<compared> more) {
        base.insert(base.end(), more);
        return base;
    };
    bytes ospf_hello =
        hex("0201 002c c0a80001 00000000 0000 0000 0000000000000000 ffffff00 000a 02 01 00000028 "
            "00000000 00000000");
    test::put_be16(ospf_hello, 12, test::inet_checksum(ospf_hello));
    return {
        {"two labels, IPv4",
         ethernet("8847", test::concat({hex(entry(16, 5, false, 64) + entry(17, 0, true, 63)),
                                        ipv4(17, udp(4000, hex("6869")))})),
         with(mpls, {{"ip.src", "ipv4", "src"}, {"ip.ttl", "ipv4", "ttl"}})},
        {"three labels, IPv6",
         ethernet("8847",
                  test::concat({hex(entry(100, 1, false, 10) + entry(200, 2, false, 20) + entry(2, 0, true, 30)),
                                hex("60000000 0008 11 40 20010db8000000000000000000000001 "
                                    "20010db8000000000000000000000002 0001 0002 0008 0000")})),
         with(mpls, {{"ipv6.src", "ipv6", "src"}, {"ipv6.hlim", "ipv6", "hop_limit"}})},
        {"two labels, control word, Ethernet",
         ethernet("8847", test::concat({hex(entry(300, 0, false, 5) + entry(301, 0, true, 6)), hex("00000007"),
                                        hex("020000000004 020000000003 0800"), ipv4(1, hex("0800f7ff 0000 0000"))})),
         with(mpls, {{"ip.dst", "ipv4", "dst"}})},
        {"OSPF hello",
         ethernet("0800", ipv4(89, ospf_hello, "e0000005")),
         {{"ospf.version", "ospf", "version"},
          {"ospf.msg", "ospf", "type"},
          {"ospf.packet_length", "ospf", "length"},
          {"ospf.srcrouter", "ospf", "router_id"},
          {"ospf.area_id", "ospf", "area_id"},
          {"ospf.checksum", "ospf", "checksum"},
          {"ospf.auth.type", "ospf", "auth_type"}}},
        {"RIPv2 response",
         ethernet("0800",
                  ipv4(17, udp(520, hex("0202 0000 0002 0007 0a010000 ffffff00 0a0000fe 00000003")), "e0000009")),
         {{"rip.command", "rip", "type"},
          {"rip.version", "rip", "version"},
          {"rip.family", "rip", "address_family"},
          {"rip.route_tag", "rip", "route_tag"},
          {"rip.ip", "rip", "address"},
          {"rip.netmask", "rip", "mask"},
          {"rip.next_hop", "rip", "next_hop"},
          {"rip.metric", "rip", "metric"}}},
        {"BGP open",
         ethernet("0800",
                  ipv4(6, tcp(179, hex("ffffffffffffffffffffffffffffffff 001d 01 04 fde9 00b4 0a000001 00"), 49152))),
         {{"bgp.type", "bgp", "type"}, {"bgp.length", "bgp", "length"}}},
        {"BGP keepalive",
         ethernet("0800", ipv4(6, tcp(179, hex("ffffffffffffffffffffffffffffffff 0013 04"), 49153))),
         {{"bgp.type", "bgp", "type"}, {"bgp.length", "bgp", "length"}}},
        {"BGP open with capabilities",
         ethernet("0800", ipv4(6, tcp(179,
                                      hex("ffffffffffffffffffffffffffffffff 0031 01 04 fde9 00b4 0a000001 14 02 12 "
                                          "01040001 0001 0200 4104fa56ea01 40020078"),
                                      49154))),
         {{"bgp.open.myas", "bgp", "my_as"},
          {"bgp.open.holdtime", "bgp", "hold_time"},
          {"bgp.open.identifier", "bgp", "identifier"},
          {"bgp.cap.mp.afi", "bgp", "afi"},
          {"bgp.cap.4as", "bgp", "as4"}}},
        {"BGP update",
         ethernet("0800", ipv4(6, tcp(179,
                                      hex("ffffffffffffffffffffffffffffffff 0058 02 0003 100a01 0037 40010100 "
                                          "4002100202 0000fde9 0000fdea 0101 0000fdeb 400304c0000201 "
                                          "80040400000064 400504000000c8 c00808fde90064ffffff01 18c00002 100a02"),
                                      49155))),
         {{"bgp.update.path_attribute.origin", "bgp", "origin"},
          {"bgp.update.path_attribute.next_hop", "bgp", "next_hop"},
          {"bgp.update.path_attribute.multi_exit_disc", "bgp", "med"},
          {"bgp.update.path_attribute.local_pref", "bgp", "local_pref"}}},
        {"BGP notification",
         ethernet("0800",
                  ipv4(6, tcp(179, hex("ffffffffffffffffffffffffffffffff 0019 03 06 02 03626965"), 49156))),
         {{"bgp.notify.major_error", "bgp", "error_code"}, {"bgp.notify.minor_error_cease", "bgp", "error_subcode"}}},
        {"VRRP advertisement",
         ethernet("0800", ipv4(112, hex("21 07 64 02 00 01 0000 0a000001 0a000002 0000000000000000"), "e0000012")),
         {{"vrrp.version", "vrrp", "version"},
          {"vrrp.type", "vrrp", "type"},
          {"vrrp.virt_rtr_id", "vrrp", "virtual_router_id"},
          {"vrrp.prio", "vrrp", "priority"},
          {"vrrp.addr_count", "vrrp", "address_count"},
          {"vrrp.auth_type", "vrrp", "auth_type"},
          {"vrrp.checksum", "vrrp", "checksum"},
          {"vrrp.ip_addr", "vrrp", "addresses"}}},
    };
}

std::string nodrix_value(const std::string& line, const compared& f) {
    if (std::string(f.proto) == "mpls") return values_in(test::json_field(line, "mpls", "labels"), f.key);
    std::string v = test::json_field(line, f.proto, f.key);
    // Arrays of texts ("addresses") as tshark joins them.
    if (!v.empty() && v[0] == '[') {
        std::string joined;
        for (char c : v.substr(1, v.size() - 2))
            if (c != '"') joined += c;
        return joined;
    }
    return v;
}

TEST(RoutingPeer, FieldsAgreeWithTshark) {
    if (!test::tshark_available()) GTEST_SKIP() << "tshark is not installed";
    std::vector<peer_case> all = cases();
    std::vector<test::pcap_record> records;
    for (const auto& c : all) records.push_back({c.frame});
    test::temp_dir dir;
    std::string pcap = dir.file("routing.pcap");
    test::write_file(pcap, test::pcap_file(records));
    std::vector<std::string> lines = test::nodrix_json_lines(pcap);
    ASSERT_EQ(lines.size(), all.size());
    for (size_t i = 0; i < all.size(); ++i) {
        const peer_case& c = all[i];
        std::vector<std::string> names;
        for (const auto& f : c.fields) names.push_back(f.tshark);
        // tshark takes an Ethernet pseudowire only when told which label
        // carries one; nodrix sees the control word.
        auto rows = test::tshark_fields(pcap, names, "frame.number == " + std::to_string(i + 1),
                                        {"-d", "mpls.label==301,pwethcw"});
        ASSERT_EQ(rows.size(), 1u) << c.name;
        for (size_t k = 0; k < c.fields.size(); ++k) {
            std::string theirs = rows[0][k];
            std::string ours = nodrix_value(lines[i], c.fields[k]);
            ASSERT_FALSE(theirs.empty()) << c.name << ": tshark has no " << c.fields[k].tshark;
            EXPECT_EQ(as_decimal(theirs), ours) << c.name << ": " << c.fields[k].tshark << "\n" << lines[i];
        }
    }
}

}  // namespace
