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

int decode_ip_version(const frame_lengths* lengths, const uint8_t* frame, unsigned) {
    // Raw IP links: the version nibble sits right behind the link header.
    unsigned version = get_u8(header_at(frame, 0)) >> 4;
    switch (version) {
        case 4: return decode_ipv4(lengths, frame, 0);
        case 6: return decode_ipv6(lengths, frame, 0);
        case 7: return decode_ipv7(lengths, frame, 0);
        default:
            layer("ip", "");
            field("version", "Unknown IP version: %d.\n", version);
            record_text("error", "unknown IP version");
    }
    return 0;
}

int decode_ip_payload(const frame_lengths* lengths, const uint8_t* frame, unsigned offset, uint16_t protocol) {
    switch (protocol) {
        case 0: return decode_ipv4(lengths, frame, offset);
        case 1: return decode_icmpv4(lengths, frame, offset);
        case 2: return decode_igmp(lengths, frame, offset);
        case 3: return decode_ggp(frame, offset);
        case 4: return decode_ipv4(lengths, frame, offset);
        case 6: return decode_tcp(lengths, frame, offset, 4);
        case 7: return decode_cbt(lengths, frame, offset);
        case 8: return decode_egp(lengths, frame, offset);
        case 9: return decode_igrp(lengths, frame, offset);
        case 17: return decode_udp(lengths, frame, offset, 4);
        case 28: return decode_irtp(lengths, frame, offset);
        case 41: return decode_ipv6(lengths, frame, offset);
        case 46: return decode_rsvp(lengths, frame, offset);
        case 47: return decode_gre(lengths, frame, offset);
        case 50: return decode_esp(frame, offset);
        case 51: return decode_ah(lengths, frame, offset);
        case 54: return decode_narp(frame, offset);
        case 88: return decode_eigrp(lengths, frame, offset);
        case 89: return decode_ospf(frame, offset);
        case 92: return decode_mtp(frame, offset);
        case 97: return decode_etherip(lengths, frame, offset);
        case 101: return decode_ifmp(frame, offset);
        case 103: return decode_pim(frame, offset);
        case 108: return decode_ipcomp(frame, offset);
        case 112: return decode_vrrp(frame, offset);
        case 113: return decode_pgm(frame, offset);
        case 132: return decode_sctp(frame, offset);
        default: break;
    }
    return 0;
}

void print_ip_protocol_name(uint16_t protocol) { print_ip_protocol_name("protocol", protocol); }

void print_ip_protocol_name(const char* key, uint16_t protocol) {
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
    print_name(key, find_name(names, protocol, "unknown"));
}
