#include "decode/routing/ospf.h"

#include <arpa/inet.h>

#include <algorithm>
#include <string>

#include "decode/app/message.h"
#include "decode/decoder.h"
#include "decode/ip/ipv4.h"

namespace {

constexpr const char* packet_types[] = {
    nullptr, "Hello", "Database Description", "Link state request", "Link state update", "Link state acknowledgement",
};

constexpr const char* authentication_types[] = {
    "None",
    "Simple password authentication",
    "Cryptographic authentication/MD5",
};

// OSPF names its codes even without --verbose.
void print_code_name(decode_context& cx, const char* key, const char* name) {
    zelk_printf(cx.out, " (%s)", name);
    record_name(cx, key, name);
}

// The fields both versions share.
void print_common_fields(decode_context& cx, const uint8_t* h) {
    uint8_t type = get_u8(cx, h + 1);
    const char* name = dense_name(packet_types, type, "unknown");
    field(cx, "type", "  Type: %d", type);
    print_code_name(cx, "type", name);
    field(cx, "length", "\n  Length: %d", get_be16(cx, h + 2));
    field(cx, "router_id", "\n  Router ID: %s", ipv4_text(cx, h + 4));
    field(cx, "area_id", "\n  Area ID: %s", ipv4_text(cx, h + 8));
}

uint8_t print_version(decode_context& cx, const uint8_t* h) {
    layer(cx, "ospf", "- OSPF Header -\n");
    uint8_t version = get_u8(cx, h);
    field(cx, "version", "  Version: %d\n", version);
    return version;
}

// Version 3 (RFC 5340) ends its header with an instance ID where version 2
// has the authentication type. Its checksum covers an IPv6 pseudo-header,
// which this decoder is not given, so it is shown but not judged.
void print_version3_fields(decode_context& cx, const uint8_t* h) {
    print_common_fields(cx, h);
    need(cx, h + 12, 3);
    field(cx, "checksum", "\n  Checksum: 0x%04x", get_be16(cx, h + 12));
    field(cx, "instance_id", ", Instance ID: %d\n", get_u8(cx, h + 14));
    bump(cx.counters.ospfv3);
}

// Neighbours, LSAs, links and prefixes of one packet: bounds on the loops,
// far above what one packet of an MTU carries.
constexpr unsigned max_entries = 1024;

// A part of the packet: [at, end) with every read checked against both.
struct span : message_cursor {
    span(const message& whole, size_t from, size_t to)
        : message_cursor{whole, from, to, "a length runs past the end of its part"} {}
    span sub(size_t n) {
        span s{m, at, at + n};
        take(n);
        return s;
    }
};

constexpr code_name v2_lsa_types[] = {
    {1, "Router"}, {2, "Network"},     {3, "Summary-Network"}, {4, "Summary-ASBR"}, {5, "AS-External"},
    {7, "NSSA"},   {9, "Opaque-Link"}, {10, "Opaque-Area"},    {11, "Opaque-AS"},
};
// Version 3 types by their function code (the low 13 bits).
constexpr code_name v3_lsa_functions[] = {
    {1, "Router"}, {2, "Network"}, {3, "Inter-Area-Prefix"}, {4, "Inter-Area-Router"}, {5, "AS-External"},
    {7, "NSSA"},   {8, "Link"},    {9, "Intra-Area-Prefix"},
};
constexpr const char* link_types[] = {nullptr, "Point-to-point", "Transit", "Stub", "Virtual"};

const char* lsa_type_name(unsigned version, uint16_t type) {
    return version == 2 ? find_name(v2_lsa_types, type, "unknown")
                        : find_name(v3_lsa_functions, type & 0x1fff, "unknown");
}

std::string dotted(uint32_t v) {
    return std::to_string(v >> 24) + "." + std::to_string((v >> 16) & 255) + "." + std::to_string((v >> 8) & 255) +
           "." + std::to_string(v & 255);
}

// The address of an OSPFv3 prefix of `bits` bits: whole 32-bit words.
std::string v3_prefix_text(span& s, unsigned bits) {
    if (bits > 128) throw malformed_message{"a prefix longer than 128 bits"};
    unsigned n = (bits + 31) / 32 * 4;
    uint8_t address[16] = {};
    const uint8_t* p = s.take(n);
    std::copy(p, p + n, address);
    char text[INET6_ADDRSTRLEN];
    inet_ntop(AF_INET6, address, text, sizeof text);
    return std::string(text) + "/" + std::to_string(bits);
}

// Prefixes of link, inter-area and intra-area LSAs: length, options, a
// 16-bit field (the metric where `metric_label` names it), the address.
void print_v3_prefixes(decode_context& cx, span& s, uint32_t count, field_format<unsigned> metric_label,
                       bool with_metric) {
    for (uint32_t i = 0; i < count && i < max_entries; ++i) {
        unsigned bits = s.u8();
        uint8_t options = s.u8();
        unsigned metric = s.be16();
        std::string prefix = v3_prefix_text(s, bits);
        item(cx, "prefixes");
        item_closer close(cx);
        field(cx, "prefix", "    Prefix: %s", prefix);
        field(cx, "prefix_options", ", Options: 0x%02x", options);
        if (with_metric) field(cx, "metric", metric_label, metric);
        zelk_printf(cx.out, "\n");
    }
}

// The 20-byte LSA header; returns the LSA's length and type.
void print_lsa_header(decode_context& cx, unsigned version, span& s, uint16_t& type, uint16_t& length) {
    uint16_t age = s.be16();
    uint8_t options = 0;
    if (version == 2) {
        options = s.u8();
        type = s.u8();
    } else {
        type = s.be16();
    }
    const uint8_t* id = s.take(4);
    const uint8_t* router = s.take(4);
    uint32_t sequence = s.be32();
    uint16_t checksum = s.be16();
    length = s.be16();
    if (version == 2)
        field(cx, "ls_type", "  LSA Type: %u", type);
    else
        field(cx, "ls_type", "  LSA Type: 0x%04x", type);
    print_name(cx, "ls_type", lsa_type_name(version, type));
    field(cx, "link_state_id", ", Link State ID: %s", ipv4_text(cx, id));
    field(cx, "advertising_router", ", Advertising Router: %s\n", ipv4_text(cx, router));
    field(cx, "ls_age", "    Age: %u", age);
    if (version == 2) field(cx, "ls_options", ", Options: 0x%02x", options);
    field(cx, "ls_seq", ", Sequence: 0x%08x", sequence);
    field(cx, "ls_checksum", ", Checksum: 0x%04x", checksum);
    field(cx, "ls_length", ", Length: %u\n", length);
}

void router_lsa(decode_context& cx, unsigned version, span& s) {
    uint8_t flags = s.u8();
    if (version == 2) {
        s.u8();
        uint16_t links = s.be16();
        field(cx, "router_flags", "    Router Flags: 0x%02x", flags);
        field(cx, "link_count", ", Links: %u\n", links);
        for (unsigned i = 0; i < links && i < max_entries; ++i) {
            const uint8_t* id = s.take(4);
            const uint8_t* data = s.take(4);
            uint8_t type = s.u8(), tos = s.u8();
            uint16_t metric = s.be16();
            s.take(size_t{tos} * 4);
            item(cx, "links");
            item_closer close(cx);
            field(cx, "link_type", "    Link: Type %u", type);
            print_name(cx, "link_type", dense_name(link_types, type, "unknown"));
            field(cx, "link_id", ", ID: %s", ipv4_text(cx, id));
            field(cx, "link_data", ", Data: %s", ipv4_text(cx, data));
            field(cx, "metric", ", Metric: %u\n", metric);
        }
        return;
    }
    field(cx, "router_flags", "    Router Flags: 0x%02x", flags);
    field(cx, "lsa_options", ", Options: 0x%06x\n", s.be24());
    for (unsigned i = 0; s.left() && i < max_entries; ++i) {
        uint8_t type = s.u8();
        s.u8();
        uint16_t metric = s.be16();
        uint32_t interface = s.be32(), neighbor_interface = s.be32();
        const uint8_t* neighbor = s.take(4);
        item(cx, "links");
        item_closer close(cx);
        field(cx, "link_type", "    Link: Type %u", type);
        print_name(cx, "link_type", dense_name(link_types, type, "unknown"));
        field(cx, "metric", ", Metric: %u", metric);
        field(cx, "interface_id", ", Interface ID: %u", interface);
        field(cx, "neighbor_interface_id", ", Neighbor Interface ID: %u", neighbor_interface);
        field(cx, "neighbor_router_id", ", Neighbor Router ID: %s\n", ipv4_text(cx, neighbor));
    }
}

void attached_routers(decode_context& cx, span& s) {
    for (unsigned i = 0; s.left() && i < max_entries; ++i) {
        std::string router = dotted(s.be32());
        zelk_printf(cx.out, "    Attached Router: %s\n", router.c_str());
        list_text(cx, "attached_routers", router.c_str());
    }
}

void v2_lsa_body(decode_context& cx, uint16_t type, span& s) {
    switch (type) {
        case 1: router_lsa(cx, 2, s); return;
        case 2:
            field(cx, "netmask", "    Network Mask: %s\n", ipv4_text(cx, s.take(4)));
            attached_routers(cx, s);
            return;
        case 3:
        case 4:
            field(cx, "netmask", "    Network Mask: %s", ipv4_text(cx, s.take(4)));
            s.u8();
            field(cx, "metric", ", Metric: %u\n", s.be24());
            return;
        case 5:
        case 7: {
            field(cx, "netmask", "    Network Mask: %s", ipv4_text(cx, s.take(4)));
            uint8_t e = s.u8();
            field(cx, "external_type", ", External Type: %u", e & 0x80 ? 2u : 1u);
            field(cx, "metric", ", Metric: %u", s.be24());
            field(cx, "forwarding_address", ", Forwarding Address: %s", ipv4_text(cx, s.take(4)));
            field(cx, "route_tag", ", Route Tag: %u\n", s.be32());
            return;
        }
        default:
            if (s.left()) field(cx, "body_length", "    Body: %lu bytes\n", static_cast<unsigned long>(s.left()));
            return;
    }
}

void v3_lsa_body(decode_context& cx, uint16_t type, span& s) {
    switch (type & 0x1fff) {
        case 1: router_lsa(cx, 3, s); return;
        case 2:
            s.u8();
            field(cx, "lsa_options", "    Options: 0x%06x\n", s.be24());
            attached_routers(cx, s);
            return;
        case 3: {
            s.u8();
            field(cx, "metric", "    Metric: %u\n", s.be24());
            print_v3_prefixes(cx, s, 1, ", Metric: %u", false);
            return;
        }
        case 4: {
            s.u8();
            field(cx, "lsa_options", "    Options: 0x%06x", s.be24());
            s.u8();
            field(cx, "metric", ", Metric: %u", s.be24());
            field(cx, "destination_router_id", ", Destination Router ID: %s\n", ipv4_text(cx, s.take(4)));
            return;
        }
        case 5:
        case 7: {
            uint8_t flags = s.u8();
            field(cx, "external_flags", "    Flags: 0x%02x", flags);
            field(cx, "metric", ", Metric: %u\n", s.be24());
            unsigned bits = s.u8();
            uint8_t options = s.u8();
            uint16_t referenced = s.be16();
            record_number(cx, "referenced_ls_type", referenced);
            std::string prefix = v3_prefix_text(s, bits);
            item(cx, "prefixes");
            {
                item_closer close(cx);
                field(cx, "prefix", "    Prefix: %s", prefix);
                field(cx, "prefix_options", ", Options: 0x%02x\n", options);
            }
            if (flags & 0x02)
                field(cx, "forwarding_address", "    Forwarding Address: %s\n", ipv6_text(cx, s.take(16)));
            if (flags & 0x01) field(cx, "route_tag", "    Route Tag: %u\n", s.be32());
            if (referenced) field(cx, "referenced_ls_id", "    Referenced LS ID: %s\n", ipv4_text(cx, s.take(4)));
            return;
        }
        case 8: {
            field(cx, "router_priority", "    Router Priority: %u", s.u8());
            field(cx, "lsa_options", ", Options: 0x%06x", s.be24());
            field(cx, "link_local_address", ", Link-local Address: %s", ipv6_text(cx, s.take(16)));
            uint32_t count = s.be32();
            field(cx, "prefix_count", ", Prefixes: %u\n", count);
            print_v3_prefixes(cx, s, count, ", Metric: %u", false);
            return;
        }
        case 9: {
            uint16_t count = s.be16();
            uint16_t referenced = s.be16();
            field(cx, "prefix_count", "    Prefixes: %u", count);
            field(cx, "referenced_ls_type", ", Referenced LS Type: 0x%04x", referenced);
            field(cx, "referenced_ls_id", ", Referenced LS ID: %s", ipv4_text(cx, s.take(4)));
            field(cx, "referenced_advertising_router", ", Referenced Advertising Router: %s\n",
                  ipv4_text(cx, s.take(4)));
            print_v3_prefixes(cx, s, count, ", Metric: %u", true);
            return;
        }
        default:
            if (s.left()) field(cx, "body_length", "    Body: %lu bytes\n", static_cast<unsigned long>(s.left()));
            return;
    }
}

// LSA headers up to the end of the span (database description, ack);
// with `bodies` each LSA's body follows its header (update).
unsigned print_lsas(decode_context& cx, unsigned version, span& s, uint32_t count) {
    unsigned n = 0;
    for (; s.left() && n < count && n < max_entries; ++n) {
        size_t start = s.at;
        uint16_t type, length;
        item(cx, "lsas");
        item_closer close(cx);
        print_lsa_header(cx, version, s, type, length);
        if (count == UINT32_MAX) continue;
        if (length < 20) throw malformed_message{"an LSA shorter than its header"};
        if (length > s.end - start) throw malformed_message{"an LSA runs past the end of the packet"};
        span body{s.m, s.at, start + length};
        s.at = start + length;
        if (version == 2)
            v2_lsa_body(cx, type, body);
        else
            v3_lsa_body(cx, type, body);
    }
    return n;
}

void hello(decode_context& cx, unsigned version, span& s) {
    if (version == 2) {
        field(cx, "netmask", "  Network Mask: %s", ipv4_text(cx, s.take(4)));
        field(cx, "hello_interval", ", Hello Interval: %u", s.be16());
        field(cx, "options", ", Options: 0x%02x", s.u8());
        field(cx, "priority", ", Priority: %u", s.u8());
        field(cx, "dead_interval", ", Dead Interval: %u\n", s.be32());
    } else {
        field(cx, "interface_id", "  Interface ID: %u", s.be32());
        field(cx, "priority", ", Priority: %u", s.u8());
        field(cx, "options", ", Options: 0x%06x", s.be24());
        field(cx, "hello_interval", ", Hello Interval: %u", s.be16());
        field(cx, "dead_interval", ", Dead Interval: %u\n", s.be16());
    }
    field(cx, "dr", "  DR: %s", ipv4_text(cx, s.take(4)));
    field(cx, "bdr", ", BDR: %s\n", ipv4_text(cx, s.take(4)));
    unsigned n = 0;
    for (; s.left() && n < max_entries; ++n) {
        std::string neighbor = dotted(s.be32());
        zelk_printf(cx.out, "  Neighbor: %s\n", neighbor.c_str());
        list_text(cx, "neighbors", neighbor.c_str());
    }
    summary_note(cx, "Hello, %u neighbor%s", n, n == 1 ? "" : "s");
}

void database_description(decode_context& cx, unsigned version, span& s) {
    uint16_t mtu;
    uint32_t options;
    if (version == 2) {
        mtu = s.be16();
        options = s.u8();
    } else {
        s.u8();
        options = s.be24();
        mtu = s.be16();
        s.u8();
    }
    uint8_t flags = s.u8();
    uint32_t sequence = s.be32();
    field(cx, "mtu", "  Interface MTU: %u", mtu);
    if (version == 2)
        field(cx, "options", ", Options: 0x%02x", options);
    else
        field(cx, "options", ", Options: 0x%06x", options);
    field(cx, "dd_flags", ", Flags: 0x%02x", flags);
    static constexpr const char* flag_names[] = {"none", "MS", "M", "M, MS", "I", "I, MS", "I, M", "I, M, MS"};
    print_name(cx, "dd_flags", flag_names[flags & 7]);
    field(cx, "dd_sequence", ", DD Sequence: %u\n", sequence);
    unsigned n = print_lsas(cx, version, s, UINT32_MAX);
    summary_note(cx, "DB Description seq %u%s%s%s, %u LSA%s", sequence, flags & 4 ? " I" : "", flags & 2 ? " M" : "",
                 flags & 1 ? " MS" : "", n, n == 1 ? "" : "s");
}

void request(decode_context& cx, unsigned version, span& s) {
    unsigned n = 0;
    for (; s.left() && n < max_entries; ++n) {
        uint32_t type = s.be32();
        if (version == 3) type &= 0xffff;  // a reserved half-word first
        const uint8_t* id = s.take(4);
        const uint8_t* router = s.take(4);
        item(cx, "requests");
        item_closer close(cx);
        if (version == 2)
            field(cx, "ls_type", "  Request: LSA Type: %u", type);
        else
            field(cx, "ls_type", "  Request: LSA Type: 0x%04x", type);
        print_name(cx, "ls_type", lsa_type_name(version, static_cast<uint16_t>(type)));
        field(cx, "link_state_id", ", Link State ID: %s", ipv4_text(cx, id));
        field(cx, "advertising_router", ", Advertising Router: %s\n", ipv4_text(cx, router));
    }
    summary_note(cx, "LS Request, %u LSA%s", n, n == 1 ? "" : "s");
}

// The body behind the header that was printed already, at offset.
void decode_ospf_body(decode_context& cx, const uint8_t* frame, unsigned offset, unsigned version) {
    message m = payload_message(cx, frame, offset);
    try {
        // The header was read already; the body ends where the packet
        // length says, which must lie within the IP payload.
        size_t header = version == 2 ? 24 : 16;
        size_t length = m.be16(2);
        if (length < header) throw malformed_message{"a packet length below the header's size"};
        if (length > m.length) {
            if (m.cut) m.at(0, length);
            throw malformed_message{"the packet length runs past the IP payload"};
        }
        span s{m, header, length};
        switch (m.u8(1)) {
            case 1: hello(cx, version, s); break;
            case 2: database_description(cx, version, s); break;
            case 3: request(cx, version, s); break;
            case 4: {
                uint32_t count = s.be32();
                field(cx, "lsa_count", "  LSAs: %u\n", count);
                unsigned n = print_lsas(cx, version, s, count);
                if (n < count && n < max_entries) throw malformed_message{"fewer LSAs than the count says"};
                summary_note(cx, "LS Update, %u LSA%s", count, count == 1 ? "" : "s");
                break;
            }
            case 5: {
                unsigned n = print_lsas(cx, version, s, UINT32_MAX);
                summary_note(cx, "LS Acknowledge, %u LSA%s", n, n == 1 ? "" : "s");
                break;
            }
            default: break;
        }
    } catch (const malformed_message& e) {
        report_malformed(cx, e);
    }
}

}  // namespace

int decode_ospf(decode_context& cx, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    uint8_t version = print_version(cx, h);
    if (version == 2) {
        print_common_fields(cx, h);
        field(cx, "checksum", "\n  Checksum: 0x%04x", get_be16(cx, h + 12));
        uint16_t authentication = get_be16(cx, h + 14);
        field(cx, "auth_type", "\n  Authentication Type: %d", authentication);
        print_code_name(cx, "auth_type", dense_name(authentication_types, authentication, "Reserved/Unknown"));
        zelk_printf(cx.out, "\n");
        bump(cx.counters.ospfv2);
        if (expanded(false)) decode_ospf_body(cx, frame, offset, 2);
    } else if (version == 3) {
        print_version3_fields(cx, h);
        if (expanded(false)) decode_ospf_body(cx, frame, offset, 3);
    }
    return 0;
}

int decode_ospfv3(decode_context& cx, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    if (print_version(cx, h) != 3) return 0;
    print_version3_fields(cx, h);
    if (expanded(false)) decode_ospf_body(cx, frame, offset, 3);
    return 0;
}
