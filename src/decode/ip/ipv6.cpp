#include "decode/ip/ipv6.h"

#include <arpa/inet.h>

#include <cstring>

#include "decode/decoder.h"
#include "decode/ip/etherip.h"
#include "decode/ip/gre.h"
#include "decode/ip/icmp.h"
#include "decode/ip/icmpv6.h"
#include "decode/ip/igmp.h"
#include "decode/ip/ipsec.h"
#include "decode/ip/ipv4.h"
#include "decode/ip/ipv6_ext.h"
#include "decode/ip/pseudo_header.h"
#include "decode/ip/sctp.h"
#include "decode/ip/tcp.h"
#include "decode/ip/udp.h"
#include "decode/routing/cbt.h"
#include "decode/routing/egp.h"
#include "decode/routing/ggp.h"
#include "decode/routing/ifmp.h"
#include "decode/routing/igrp.h"
#include "decode/routing/irtp.h"
#include "decode/routing/mtp.h"
#include "decode/routing/narp.h"
#include "decode/routing/ospf.h"
#include "decode/routing/pgm.h"
#include "decode/routing/pim.h"
#include "decode/routing/rsvp.h"
#include "decode/routing/vrrp.h"

void print_ipv6_next_header_name(decode_context& cx, uint8_t next_header) {
    static constexpr code_name names[] = {
        {0, "hop-by-hop option header"},
        {6, "TCP"},
        {8, "EGP"},
        {17, "UDP"},
        {41, "IPv6 in IPv6"},
        {43, "Routing header"},
        {44, "Fragmentation/reassembly header"},
        {50, "Encapsulating security payload"},
        {51, "Authentication header"},
        {58, "ICMP"},
        {59, "No next header"},
        {60, "Destination options header"},
        {103, "PIM"},
        {108, "IPComp"},
    };
    const char* name = find_name(names, next_header, nullptr);
    if (name) print_name(cx, "next_header", name);
}

int decode_ipv6_next_header(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset,
                            uint8_t next_header) {
    nesting_guard nested(cx);
    switch (next_header) {
        case 0: return decode_ipv6_hop_by_hop(cx, lengths, frame, offset);
        case 1: return decode_icmpv4(cx, lengths, frame, offset);
        case 2: return decode_igmp(cx, lengths, frame, offset);
        case 3: return decode_ggp(cx, frame, offset);
        case 4: return decode_ipv4(cx, lengths, frame, offset);
        case 6: return decode_tcp(cx, lengths, frame, offset, 6);
        case 7: return decode_cbt(cx, lengths, frame, offset);
        case 8: return decode_egp(cx, lengths, frame, offset);
        case 9: return decode_igrp(cx, lengths, frame, offset);
        case 17: return decode_udp(cx, lengths, frame, offset, 6);
        case 28: return decode_irtp(cx, lengths, frame, offset);
        case 41: return decode_ipv6(cx, lengths, frame, offset);
        case 43: return decode_ipv6_routing(cx, lengths, frame, offset);
        case 44: return decode_ipv6_fragment(cx, lengths, frame, offset);
        case 46: return decode_rsvp(cx, lengths, frame, offset);
        case 47: return decode_gre(cx, lengths, frame, offset);
        case 50: return decode_esp(cx, frame, offset);
        case 51: return decode_ah(cx, lengths, frame, offset);
        case 54: return decode_narp(cx, frame, offset);
        case 58: return decode_icmpv6(cx, frame, offset);
        case 60: return decode_ipv6_destination(cx, lengths, frame, offset);
        case 88: return decode_eigrp(cx, lengths, frame, offset);
        case 89: return decode_ospf(cx, frame, offset);
        case 92: return decode_mtp(cx, frame, offset);
        case 97: return decode_etherip(cx, lengths, frame, offset);
        case 101: return decode_ifmp(cx, frame, offset);
        case 103: return decode_pim_over_ipv6(cx, frame, offset);
        case 108: return decode_ipcomp(cx, frame, offset);
        case 112: return decode_vrrp_over_ipv6(cx, frame, offset);
        case 113: return decode_pgm(cx, frame, offset);
        case 132: return decode_sctp(cx, frame, offset);
        case 135: return decode_ipv6_mobility(cx, lengths, frame, offset);
        default: break;  // 59 and the rest end the frame
    }
    return 0;
}

// Text: every group in full; structured: the compressed form of RFC 5952.
static void print_ipv6_address(decode_context& cx, const char* key, const uint8_t* a) {
    if (recording()) {
        char text[INET6_ADDRSTRLEN];
        inet_ntop(AF_INET6, a, text, sizeof text);
        record_text(cx, key, text);
        return;
    }
    // Every byte as two hex digits, a colon between the groups.
    static const char digits[] = "0123456789abcdef";
    char text[39];
    char* p = text;
    for (int i = 0; i < 16; ++i) {
        if (i > 0 && i % 2 == 0) *p++ = ':';
        *p++ = digits[a[i] >> 4];
        *p++ = digits[a[i] & 0x0f];
    }
    zelk_write(cx.out, text, sizeof text);
}

static bool is_unspecified(const uint8_t* a) {
    static const uint8_t zero[16] = {};
    return memcmp(a, zero, 16) == 0;
}

static bool is_loopback(const uint8_t* a) {
    static const uint8_t one[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    return memcmp(a, one, 16) == 0;
}

static void print_address_note(decode_context& cx, const char* key, const uint8_t* a) {
    if (is_unspecified(a))
        print_name(cx, key, "unspecified");
    else if (is_loopback(a))
        print_name(cx, key, "loopback");
}

int decode_ipv6(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    nesting_guard nested(cx);
    const uint8_t* h = header_at(cx, frame, offset);
    layer(cx, "ipv6", "\n- IPv6 Header -");
    need(cx, h, 40);
    uint32_t jumbo = set_ipv6_pseudo_header(cx, h);
    uint16_t payload_length = get_be16(cx, h + 4);
    uint8_t next_header = h[6];
    const uint8_t* source = h + 8;
    const uint8_t* destination = h + 24;
    field(cx, "version", "\n  Version: %d", h[0] >> 4);
    field(cx, "priority", ", Priority: %d\n", h[0] & 0x0f);
    field(cx, "flow_label", "  Flow Label: %d", get_be16(cx, h + 1));
    field(cx, "payload_length", ", Payload length: %d\n", payload_length);
    field(cx, "next_header", "  Next header: %d", next_header);
    if (verbose()) print_ipv6_next_header_name(cx, next_header);
    field(cx, "hop_limit", ", Hop Limit: %d\n", h[7]);
    zelk_printf(cx.out, "  Src IP: ");
    print_ipv6_address(cx, "src", source);
    if (verbose()) print_address_note(cx, "src", source);
    zelk_printf(cx.out, "\n  Dst IP: ");
    print_ipv6_address(cx, "dst", destination);
    if (verbose()) {
        if (memcmp(source, destination, 16) == 0)
            print_name(cx, "dst", "same as Src IP");
        else
            print_address_note(cx, "dst", destination);
    }
    zelk_printf(cx.out, "\n");
    bump(cx.counters.ipv6);
    // A jumbogram's length is in its hop-by-hop options.
    set_ip_payload(cx, h + 40, payload_length == 0 && jumbo ? jumbo : payload_length);
    return decode_ipv6_next_header(cx, lengths, frame, offset + 40, next_header);
}

int decode_ipv6_hop_by_hop(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    layer(cx, "ipv6_hop_by_hop", "- IPv6 Hop-by-Hop Header -");
    need(cx, h, 2);
    field(cx, "next_header", "\n  Next header: %u", h[0]);
    if (verbose()) print_ipv6_next_header_name(cx, h[0]);
    field(cx, "length", "\n  Header Extension Length: %u\n", h[1]);
    bump(cx.counters.ipv6_hop_by_hop);
    return decode_ipv6_next_header(cx, lengths, frame, offset + (h[1] + 1) * 8, h[0]);
}

int decode_ipv6_routing(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    layer(cx, "ipv6_routing", "- IPv6 Routing Header -");
    need(cx, h, 4);
    field(cx, "next_header", "\n  Next header: %u", h[0]);
    if (verbose()) print_ipv6_next_header_name(cx, h[0]);
    field(cx, "length", "\n  Header Extension Length: %u", h[1]);
    field(cx, "routing_type", ", Routing Type: %u\n", h[2]);
    field(cx, "segments_left", "  Segments Left: %u\n", h[3]);
    bump(cx.counters.ipv6_routing);
    return decode_ipv6_next_header(cx, lengths, frame, offset + (h[1] + 1) * 8, h[0]);
}

static void print_bytes_spaced(decode_context& cx, const char* key, const uint8_t* p, int n) {
    record_hex(cx, key, p, static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) zelk_printf(cx.out, "%02x ", p[i]);
}

int decode_ipv7(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    layer(cx, "ipv7", "\n- IPv7(TP/IX) Header -");
    need(cx, h, 36);
    unsigned header_length = h[1] * 16u + (h[0] >> 4);
    field(cx, "version", "\n  Version: %u", h[0] & 0x0fu);
    field(cx, "header_length", ", Hdr-Len: %u", header_length);
    field(cx, "ttl", ", TTL: %u\n", static_cast<unsigned>(get_be16(cx, h + 2)));
    zelk_printf(cx.out, "  Forward route identifier: ");
    print_bytes_spaced(cx, "forward_route_identifier", h + 8, 8);
    zelk_printf(cx.out, "\n  Dst IP: ");
    print_bytes_spaced(cx, "dst", h + 16, 8);
    zelk_printf(cx.out, "\n  Src IP: ");
    print_bytes_spaced(cx, "src", h + 24, 8);
    field(cx, "protocol", "\n  Protocol: %u", static_cast<unsigned>(get_be16(cx, h + 32)));
    field(cx, "checksum", ", Checksum: 0x%04x\n", static_cast<unsigned>(get_be16(cx, h + 34)));
    return 0;
}
