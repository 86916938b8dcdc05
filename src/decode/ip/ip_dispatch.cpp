#include "decode/decoder.h"
#include "decode/ip/etherip.h"
#include "decode/ip/gre.h"
#include "decode/ip/icmp.h"
#include "decode/ip/igmp.h"
#include "decode/ip/ip.h"
#include "decode/ip/ipsec.h"
#include "decode/ip/ipv4.h"
#include "decode/ip/ipv6.h"
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

int decode_ip_version(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned) {
    // Raw IP links: the version nibble sits right behind the link header.
    unsigned version = get_u8(cx, header_at(cx, frame, 0)) >> 4;
    switch (version) {
        case 4: return decode_ipv4(cx, lengths, frame, 0);
        case 6: return decode_ipv6(cx, lengths, frame, 0);
        case 7: return decode_ipv7(cx, lengths, frame, 0);
        default:
            layer(cx, "ip", "");
            field(cx, "version", "Unknown IP version: %d.\n", version);
            record_text(cx, "error", "unknown IP version");
    }
    return 0;
}

int decode_ip_payload(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset,
                      uint16_t protocol) {
    nesting_guard nested(cx);
    switch (protocol) {
        case 0: return decode_ipv4(cx, lengths, frame, offset);
        case 1: return decode_icmpv4(cx, lengths, frame, offset);
        case 2: return decode_igmp(cx, lengths, frame, offset);
        case 3: return decode_ggp(cx, frame, offset);
        case 4: return decode_ipv4(cx, lengths, frame, offset);
        case 6: return decode_tcp(cx, lengths, frame, offset, 4);
        case 7: return decode_cbt(cx, lengths, frame, offset);
        case 8: return decode_egp(cx, lengths, frame, offset);
        case 9: return decode_igrp(cx, lengths, frame, offset);
        case 17: return decode_udp(cx, lengths, frame, offset, 4);
        case 28: return decode_irtp(cx, lengths, frame, offset);
        case 41: return decode_ipv6(cx, lengths, frame, offset);
        case 46: return decode_rsvp(cx, lengths, frame, offset);
        case 47: return decode_gre(cx, lengths, frame, offset);
        case 50: return decode_esp(cx, frame, offset);
        case 51: return decode_ah(cx, lengths, frame, offset);
        case 54: return decode_narp(cx, frame, offset);
        case 88: return decode_eigrp(cx, lengths, frame, offset);
        case 89: return decode_ospf(cx, frame, offset);
        case 92: return decode_mtp(cx, frame, offset);
        case 97: return decode_etherip(cx, lengths, frame, offset);
        case 101: return decode_ifmp(cx, frame, offset);
        case 103: return decode_pim(cx, frame, offset);
        case 108: return decode_ipcomp(cx, frame, offset);
        case 112: return decode_vrrp(cx, frame, offset);
        case 113: return decode_pgm(cx, frame, offset);
        case 132: return decode_sctp(cx, frame, offset);
        default: break;
    }
    return 0;
}

void print_ip_protocol_name(decode_context& cx, uint16_t protocol) { print_ip_protocol_name(cx, "protocol", protocol); }

void print_ip_protocol_name(decode_context& cx, const char* key, uint16_t protocol) {
    static constexpr code_name names[] = {
        {0, "IPv4"},
        {1, "ICMP"},
        {2, "IGMP"},
        {3, "GGP"},
        {4, "IPv4 in IPv4 Encapsulation"},
        {6, "TCP"},
        {7, "CBT"},
        {8, "EGP"},
        {9, "IGRP"},
        {17, "UDP"},
        {28, "IRTP"},
        {41, "IPv6 over IPv4"},
        {46, "RSVP"},
        {47, "GRE"},
        {50, "ESP"},
        {51, "Authentication header"},
        {54, "NARP"},
        {88, "EIGRP"},
        {89, "OSPF"},
        {92, "MTP"},
        {97, "EtherIP"},
        {101, "IFMP"},
        {103, "PIM"},
        {108, "IPComp"},
        {112, "VRRP"},
        {113, "PGM"},
        {132, "SCTP"},
    };
    print_name(cx, key, find_name(names, protocol, "unknown"));
}
