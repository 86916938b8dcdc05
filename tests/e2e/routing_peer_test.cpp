// Routing and link-level traffic of real programs against tshark: FRR's
// ospfd, ospf6d, bgpd and bfdd reaching full adjacency, an eBGP session
// and BFD between two network namespaces, keepalived's VRRP adverts,
// IGMPv3 joins and queries, traceroute's probes and the ICMP errors that
// quote them, all captured once by `tcpdump -i any` (Linux cooked capture
// v2) on the router in the middle (tests/data/routing_traffic.sh).
//
// For each protocol a table pairs tshark's fields with our JSON paths;
// every value both show must agree, frame by frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "peer.h"
#include "support.h"

namespace {

bool have(const std::string& program) {
    return system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

struct live_capture {
    test::temp_dir dir;
    std::string pcap = dir.file("routing.pcap");
    bool made = false;
    std::vector<std::string> lines;  // nodrix --json, one per frame
    live_capture() {
        std::string script = std::string(NODRIX_SOURCE_DIR) + "/tests/data/routing_traffic.sh";
        made = system(("bash " + script + " " + dir.path + " >/dev/null 2>&1").c_str()) == 0;
        if (made) lines = test::nodrix_json_lines(pcap);
    }
};

const live_capture& capture() {
    static live_capture c;
    return c;
}

std::string skip_reason() {
    if (!test::running_as_root()) return "network namespaces need root";
    for (const char* program : {"ip", "tcpdump", "tshark", "python3", "keepalived", "traceroute", "vtysh"})
        if (!have(program)) return std::string(program) + " is not installed";
    if (!have("/usr/lib/frr/zebra")) return "frr is not installed";
    if (!capture().made) return "the traffic could not be made (no network namespaces here?)";
    return "";
}

// Where the two decoders write a value differently on purpose: both sides
// are brought to one form before they are compared.
enum class form {
    as_is,
    prefix_address,  // "10.0.0.0/8": tshark shows the address ...
    prefix_length,   // ... and the length in fields of their own
    community_as,    // "65001:100": tshark's community_as is 65001; well-known ones apart
    flag_bits,       // BFD: tshark's flags include the two state bits
};

std::string in_form(form f, const std::string& v, bool theirs) {
    // tshark writes some numbers in hex: sets sort by the decimal form.
    if (theirs && v.rfind("0x", 0) == 0 && f == form::as_is) return std::to_string(strtoull(v.c_str(), nullptr, 16));
    size_t cut = v.find(f == form::community_as ? ':' : '/');
    switch (f) {
        case form::prefix_address: return theirs || cut == std::string::npos ? v : v.substr(0, cut);
        case form::prefix_length: return theirs || cut == std::string::npos ? v : v.substr(cut + 1);
        case form::community_as: return theirs ? v : cut == std::string::npos ? "" : v.substr(0, cut);
        case form::flag_bits: return theirs ? std::to_string(strtoul(v.c_str(), nullptr, 0) & 0x3f) : v;
        case form::as_is: break;
    }
    return v;
}

struct field_pair {
    const char* theirs;  // tshark fields, several joined by '|'
    const char* ours;    // json_values paths
    form how = form::as_is;
    const char* when = nullptr;  // only frames whose stack holds this
};

struct protocol_table {
    const char* name;
    std::vector<field_pair> pairs;
};

// The tables. Where one of our keys holds what tshark spreads over several
// fields (or the other way round), both sides list them all and the values
// compare as a set.
const std::vector<protocol_table>& tables() {
    static const std::vector<protocol_table> all = {
        {"linux_cooked",
         {{"sll.etype", "linux_cooked/protocol"},
          {"sll.ifindex", "linux_cooked/interface_index"},
          {"sll.hatype", "linux_cooked/hardware_type"},
          {"sll.pkttype", "linux_cooked/packet_type"},
          {"sll.halen", "linux_cooked/address_length"},
          {"sll.src.eth", "linux_cooked/address"}}},
        {"ospf",
         {{"ospf.version", "ospf/version"},
          {"ospf.msg", "ospf/type"},
          {"ospf.packet_length", "ospf/length"},
          {"ospf.srcrouter", "ospf/router_id"},
          {"ospf.area_id", "ospf/area_id"},
          {"ospf.checksum", "ospf/checksum"},
          {"ospf.auth.type", "ospf/auth_type"},
          {"ospf.instance_id", "ospf/instance_id"},
          {"ospf.hello.network_mask", "ospf/netmask"},
          {"ospf.hello.hello_interval", "ospf/hello_interval"},
          {"ospf.hello.router_priority", "ospf/priority"},
          {"ospf.hello.router_dead_interval", "ospf/dead_interval"},
          {"ospf.hello.designated_router", "ospf/dr"},
          {"ospf.hello.backup_designated_router", "ospf/bdr"},
          {"ospf.hello.active_neighbor", "ospf/neighbors"},
          {"ospf.hello.interface_id", "ospf/interface_id"},
          {"ospf.v2.options|ospf.v3.options", "ospf/options|ospf/lsas/ls_options|ospf/lsas/lsa_options"},
          {"ospf.db.interface_mtu", "ospf/mtu"},
          {"ospf.dbd", "ospf/dd_flags"},
          {"ospf.db.dd_sequence", "ospf/dd_sequence"},
          {"ospf.ls.number_of_lsas", "ospf/lsa_count"},
          {"ospf.lsa.age", "ospf/lsas/ls_age"},
          {"ospf.lsa.seqnum", "ospf/lsas/ls_seq"},
          {"ospf.lsa.chksum", "ospf/lsas/ls_checksum"},
          {"ospf.lsa.length", "ospf/lsas/ls_length"},
          {"ospf.lsa.id|ospf.link_state_id", "ospf/lsas/link_state_id|ospf/requests/link_state_id"},
          {"ospf.advrouter", "ospf/lsas/advertising_router|ospf/requests/advertising_router"},
          {"ospf.v2.router.lsa.flags|ospf.v3.router.lsa.flags", "ospf/lsas/router_flags"},
          {"ospf.lsa.number_of_links", "ospf/lsas/link_count"},
          {"ospf.lsa.router.linkid", "ospf/lsas/links/link_id"},
          {"ospf.lsa.router.linkdata", "ospf/lsas/links/link_data"},
          {"ospf.lsa.router.linktype|ospf.v3.lsa.type", "ospf/lsas/links/link_type"},
          {"ospf.lsa.router.metric0|ospf.metric", "ospf/lsas/links/metric|ospf/lsas/metric|ospf/lsas/prefixes/metric"},
          {"ospf.v3.lsa.interface_id", "ospf/lsas/links/interface_id"},
          {"ospf.v3.lsa.neighbor_interface_id", "ospf/lsas/links/neighbor_interface_id"},
          {"ospf.v3.lsa.neighbor_router_id", "ospf/lsas/links/neighbor_router_id"},
          {"ospf.lsa.network.netmask|ospf.lsa.asext.netmask", "ospf/lsas/netmask"},
          {"ospf.lsa.network.attchrtr|ospf.v3.lsa.attached_router", "ospf/lsas/attached_routers"},
          {"ospf.lsa.asext.fwdaddr", "ospf/lsas/forwarding_address"},
          {"ospf.lsa.asext.extrttag", "ospf/lsas/route_tag"},
          {"ospf.v3.as.external.flags", "ospf/lsas/external_flags"},
          {"ospf.v3.lsa.router_priority", "ospf/lsas/router_priority"},
          {"ospf.v3.lsa.link_local_interface_address.ipv6", "ospf/lsas/link_local_address"},
          {"ospf.v3.lsa.num_prefixes", "ospf/lsas/prefix_count"},
          {"ospf.v3.lsa.referenced_ls_type", "ospf/lsas/referenced_ls_type"},
          {"ospf.v3.lsa.referenced_link_state_id", "ospf/lsas/referenced_ls_id"},
          {"ospf.v3.lsa.referenced_advertising_router", "ospf/lsas/referenced_advertising_router"},
          {"ospf.v3.address_prefix.ipv6", "ospf/lsas/prefixes/prefix", form::prefix_address},
          {"ospf.prefix_length", "ospf/lsas/prefixes/prefix", form::prefix_length},
          {"ospf.v3.prefix.options", "ospf/lsas/prefixes/prefix_options"}}},
        {"bgp",
         {{"bgp.type", "bgp/type"},
          {"bgp.length", "bgp/length"},
          {"bgp.open.version", "bgp/version"},
          {"bgp.open.myas", "bgp/my_as"},
          {"bgp.open.holdtime", "bgp/hold_time"},
          {"bgp.open.identifier", "bgp/identifier"},
          {"bgp.cap.type", "bgp/capabilities/code"},
          {"bgp.cap.4as", "bgp/capabilities/as4"},
          {"bgp.cap.mp.afi", "bgp/capabilities/afi"},
          {"bgp.cap.mp.safi", "bgp/capabilities/safi"},
          {"bgp.notify.major_error", "bgp/error_code"},
          {"bgp.notify.minor_error_open|bgp.notify.minor_error_update|bgp.notify.minor_error_expired|"
           "bgp.notify.minor_error_state|bgp.notify.minor_error_cease|bgp.notify.minor_error",
           "bgp/error_subcode"},
          {"bgp.notify.minor_data", "bgp/data"},
          {"bgp.update.path_attribute.type_code", "bgp/attributes/type"},
          {"bgp.update.path_attribute.flags", "bgp/attributes/flags"},
          {"bgp.update.path_attribute.origin", "bgp/attributes/origin"},
          {"bgp.update.path_attribute.as_path_segment.as4", "bgp/attributes/as_path"},
          {"bgp.update.path_attribute.next_hop|bgp.update.path_attribute.mp_reach_nlri.next_hop.ipv6",
           "bgp/attributes/next_hop"},
          {"bgp.update.path_attribute.multi_exit_disc", "bgp/attributes/med"},
          {"bgp.update.path_attribute.local_pref", "bgp/attributes/local_pref"},
          {"bgp.update.path_attribute.community_as", "bgp/attributes/communities", form::community_as},
          {"bgp.update.path_attribute.mp_reach_nlri.afi|bgp.update.path_attribute.mp_unreach_nlri.afi",
           "bgp/attributes/afi"},
          {"bgp.update.path_attribute.mp_reach_nlri.safi|bgp.update.path_attribute.mp_unreach_nlri.safi",
           "bgp/attributes/safi"},
          {"bgp.mp_reach_nlri_ipv6_prefix", "bgp/attributes/nlri", form::prefix_address},
          {"bgp.nlri_prefix", "bgp/nlri", form::prefix_address}}},
        {"bfd",
         {{"bfd.version", "bfd/version", form::as_is, "bfd"},
          {"bfd.diag", "bfd/diagnostic", form::as_is, "bfd"},
          {"bfd.sta", "bfd/state", form::as_is, "bfd"},
          {"bfd.flags", "bfd/flags", form::flag_bits, "bfd"},
          {"bfd.detect_time_multiplier", "bfd/detect_mult", form::as_is, "bfd"},
          {"bfd.message_length", "bfd/length", form::as_is, "bfd"},
          {"bfd.my_discriminator", "bfd/my_discriminator", form::as_is, "bfd"},
          {"bfd.your_discriminator", "bfd/your_discriminator", form::as_is, "bfd"},
          {"bfd.desired_min_tx_interval", "bfd/desired_min_tx_us", form::as_is, "bfd"},
          {"bfd.required_min_rx_interval", "bfd/required_min_rx_us", form::as_is, "bfd"},
          {"bfd.required_min_echo_interval", "bfd/required_min_echo_rx_us", form::as_is, "bfd"}}},
        {"vrrp",
         {{"vrrp.version", "vrrp/version"},
          {"vrrp.type", "vrrp/type"},
          {"vrrp.virt_rtr_id", "vrrp/virtual_router_id"},
          {"vrrp.prio", "vrrp/priority"},
          {"vrrp.addr_count", "vrrp/address_count"},
          {"vrrp.auth_type", "vrrp/auth_type"},
          {"vrrp.adver_int", "vrrp/advert_interval"},
          {"vrrp.short_adver_int", "vrrp/max_advert_interval_cs"},
          {"vrrp.checksum", "vrrp/checksum"},
          {"vrrp.ip_addr|vrrp.ipv6_addr", "vrrp/addresses"}}},
        {"igmp",
         {{"igmp.version", "igmp/version"},
          {"igmp.type", "igmp/type"},
          {"igmp.checksum", "igmp/checksum"},
          {"igmp.max_resp", "igmp/max_response_tenths|igmp/max_response_time"},
          {"igmp.s", "igmp/suppress"},
          {"igmp.qrv", "igmp/qrv"},
          {"igmp.qqic", "igmp/qqic"},
          {"igmp.num_src", "igmp/source_count|igmp/records/sources"},
          {"igmp.num_grp_recs", "igmp/record_count"},
          {"igmp.record_type", "igmp/records/type"},
          {"igmp.maddr", "igmp/group|igmp/records/group"},
          {"igmp.saddr", "igmp/source_addresses|igmp/records/source_addresses"}}},
        // ICMP errors: tshark's fields hold the outer header's value and
        // then the quoted datagram's.
        {"icmp",
         {{"icmp.type", "icmp/type|icmp_quote/icmp_type", form::as_is, "icmp"},
          {"icmp.code", "icmp/code|icmp_quote/icmp_code", form::as_is, "icmp"},
          {"icmp.ident", "icmp/identifier|icmp_quote/icmp_identifier", form::as_is, "icmp"},
          {"icmp.seq", "icmp/seq|icmp_quote/icmp_seq", form::as_is, "icmp"},
          {"ip.src", "ipv4/src|icmp_quote/src", form::as_is, "icmp"},
          {"ip.dst", "ipv4/dst|icmp_quote/dst", form::as_is, "icmp"},
          {"ip.ttl", "ipv4/ttl|icmp_quote/ttl", form::as_is, "icmp"},
          {"ip.id", "ipv4/id|icmp_quote/id", form::as_is, "icmp"},
          {"ip.len", "ipv4/total_length|icmp_quote/length", form::as_is, "icmp"},
          {"ip.proto", "ipv4/protocol|icmp_quote/protocol", form::as_is, "icmp"},
          {"udp.srcport", "icmp_quote/src_port", form::as_is, "icmp"},
          {"udp.dstport", "icmp_quote/dst_port", form::as_is, "icmp"},
          {"udp.length", "icmp_quote/udp_length", form::as_is, "icmp"}}},
        {"icmpv6",
         {{"icmpv6.type", "icmpv6/type|icmp_quote/icmp_type", form::as_is, "icmpv6"},
          {"icmpv6.code", "icmpv6/code|icmp_quote/icmp_code", form::as_is, "icmpv6"},
          {"icmpv6.echo.identifier", "icmpv6/identifier|icmp_quote/icmp_identifier", form::as_is, "icmpv6"},
          {"icmpv6.echo.sequence_number", "icmpv6/seq|icmp_quote/icmp_seq", form::as_is, "icmpv6"},
          {"ipv6.src", "ipv6/src|icmp_quote/src", form::as_is, "icmpv6"},
          {"ipv6.dst", "ipv6/dst|icmp_quote/dst", form::as_is, "icmpv6"},
          {"ipv6.hlim", "ipv6/hop_limit|icmp_quote/hop_limit", form::as_is, "icmpv6"},
          {"ipv6.plen", "ipv6/payload_length|icmp_quote/payload_length", form::as_is, "icmpv6"},
          {"udp.srcport", "icmp_quote/src_port", form::as_is, "icmpv6"},
          {"udp.dstport", "icmp_quote/dst_port", form::as_is, "icmpv6"},
          {"icmpv6.nd.ns.target_address|icmpv6.nd.na.target_address", "icmpv6_nd/target"},
          {"icmpv6.opt.type", "icmpv6_nd/options/type"},
          {"icmpv6.mldr.nb_mcast_records", "mldv2/record_count"},
          {"icmpv6.mldr.mar.record_type", "mldv2/records/type"},
          {"icmpv6.mldr.mar.multicast_address", "mldv2/records/address"},
          {"icmpv6.mldr.mar.nb_sources", "mldv2/records/sources"}}},
        {"arp",
         {{"arp.hw.type", "arp/hardware_type"},
          {"arp.proto.type", "arp/protocol_type"},
          {"arp.opcode", "arp/opcode"},
          {"arp.src.hw_mac", "arp/sender_hardware"},
          {"arp.src.proto_ipv4", "arp/sender_protocol"},
          {"arp.dst.hw_mac", "arp/target_hardware"},
          {"arp.dst.proto_ipv4", "arp/target_protocol"}}},
    };
    return all;
}

std::vector<std::string> split(const std::string& text, char by) {
    std::vector<std::string> parts;
    if (text.empty()) return parts;
    for (size_t start = 0;;) {
        size_t cut = text.find(by, start);
        parts.push_back(text.substr(start, cut - start));
        if (cut == std::string::npos) return parts;
        start = cut + 1;
    }
}

bool in_stack(const std::string& line, const char* proto) {
    auto stack = test::json_values(line, "stack");
    return std::ranges::find(stack, std::string(proto)) != stack.end();
}

struct tally {
    int frames = 0;  // frames where at least one value was compared
    int values = 0;  // values that agreed
    std::vector<std::string> differences;
};

tally compare(const protocol_table& table) {
    const live_capture& c = capture();
    // One tshark run per table; each '|' alternative is a column.
    std::vector<std::string> columns;
    for (const field_pair& p : table.pairs)
        for (const std::string& f : split(p.theirs, '|')) columns.push_back(f);
    auto rows = test::tshark_fields(c.pcap, columns);
    tally t;
    EXPECT_EQ(rows.size(), c.lines.size()) << table.name;
    for (size_t frame = 0; frame < rows.size() && frame < c.lines.size(); ++frame) {
        const std::string& line = c.lines[frame];
        bool compared = false;
        size_t column = 0;
        for (const field_pair& p : table.pairs) {
            std::vector<std::string> theirs, ours;
            size_t alternatives = split(p.theirs, '|').size();
            for (size_t a = 0; a < alternatives; ++a, ++column)
                for (const std::string& v : split(rows[frame][column], ','))
                    if (std::string f = in_form(p.how, v, true); !f.empty()) theirs.push_back(f);
            if (p.when && !in_stack(line, p.when)) continue;
            for (const std::string& v : test::json_values(line, p.ours))
                if (std::string f = in_form(p.how, v, false); !f.empty()) ours.push_back(f);
            if (theirs.empty() && ours.empty()) continue;
            // Values gathered from several fields or paths compare as a set.
            if (alternatives > 1 || std::string(p.ours).find('|') != std::string::npos) {
                std::ranges::sort(theirs);
                std::ranges::sort(ours);
            }
            bool agree = theirs.size() == ours.size() &&
                         std::equal(theirs.begin(), theirs.end(), ours.begin(), test::same_value);
            if (!agree) {
                std::string d = "frame " + std::to_string(frame + 1) + " " + p.theirs + ": tshark '";
                for (const auto& v : theirs) d += v + " ";
                d += "' nodrix '";
                for (const auto& v : ours) d += v + " ";
                t.differences.push_back(d + "'");
                continue;
            }
            t.values += static_cast<int>(theirs.size());
            compared = true;
        }
        t.frames += compared;
    }
    return t;
}

// Every message kind the programs are expected to send was captured and
// decoded: a comparison of nothing would prove nothing.
void expect_every_message_kind(const std::vector<std::string>& lines) {
    auto count = [&](const std::string& path, const std::string& value) {
        int n = 0;
        for (const auto& line : lines)
            for (const auto& v : test::json_values(line, path)) n += v == value;
        return n;
    };
    EXPECT_EQ(count("link_type", "276"), static_cast<int>(lines.size()));
    for (const char* type : {"1", "2", "3", "4", "5"}) EXPECT_GT(count("ospf/type", type), 0) << "OSPF type " << type;
    EXPECT_GT(count("ospf/version", "3"), 0);
    EXPECT_GT(count("ospf/lsas/ls_type", "2"), 0) << "no network LSA";
    for (const char* type : {"1", "2", "3", "4"}) EXPECT_GT(count("bgp/type", type), 0) << "BGP type " << type;
    EXPECT_GT(count("bgp/capabilities/code", "65"), 0);
    EXPECT_GT(count("bgp/attributes/type", "14"), 0) << "no MP_REACH_NLRI";
    EXPECT_GT(count("bfd/state", "3"), 0) << "no BFD session came up";
    EXPECT_GT(count("vrrp/version", "2"), 0);
    EXPECT_GT(count("vrrp/max_advert_interval_cs", "100"), 0);
    EXPECT_GT(count("vrrp/addresses", "fd00:12::100"), 0);
    EXPECT_GT(count("igmp/type", "17"), 0);
    EXPECT_GT(count("igmp/records/source_addresses", "10.0.12.9"), 0);
    EXPECT_GT(count("icmp/type", "11"), 0);
    EXPECT_GT(count("icmpv6/type", "3"), 0);
    EXPECT_GT(count("icmp_quote/dst_port", "33434"), 0);
}

// One test: the capture is made once (about 15 seconds) and every table
// compared against it.
TEST(RoutingTraffic, RealProgramsAgreeWithTshark) {
    if (std::string why = skip_reason(); !why.empty()) GTEST_SKIP() << why;
    expect_every_message_kind(capture().lines);
    for (const protocol_table& table : tables()) {
        SCOPED_TRACE(table.name);
        tally t = compare(table);
        std::string all;
        for (const auto& d : t.differences) all += d + "\n";
        EXPECT_TRUE(t.differences.empty()) << all;
        EXPECT_GT(t.frames, 0) << "no " << table.name << " frame was captured";
        std::cout << table.name << ": " << t.values << " values agreed in " << t.frames << " frames\n";
    }
}

}  // namespace
