// Protocol counters: one per row of the statistics report, plus its error
// columns (_short: too-short, _error: protocol error, _bad: bad checksum).
#pragma once

#include <cstdint>

#include "driver/settings.h"

struct protocol_counters {
    uint32_t ethernet_ii, ethernet_ii_short;
    uint32_t ieee8023_raw;
    uint32_t ieee8023;
    uint32_t ieee8023_snap;
    uint32_t vlan;
    uint32_t ieee80211, ieee80211_short;
    uint32_t token_ring, token_ring_short;
    uint32_t fddi, fddi_short;
    uint32_t arp, arp_error;
    uint32_t prism;
    uint32_t cdp, cdp_short;
    uint32_t cisco_hdlc;
    uint32_t cgmp;
    uint32_t bofl;
    uint32_t vtp;
    uint32_t atm_clip, atm_clip_llc;
    uint32_t atm_rfc1483;
    uint32_t ppp;
    uint32_t pppoe;
    uint32_t pppoe_tags;
    uint32_t ipcp, ipcp_error;
    uint32_t ipv6cp;
    uint32_t ipxcp;
    uint32_t atcp;
    uint32_t pap;
    uint32_t chap;
    uint32_t ecp;
    uint32_t lcp;
    uint32_t lqr;
    uint32_t ccp;
    uint32_t ipv4, ipv4_error, ipv4_bad;
    uint32_t ipv6;
    uint32_t ipv6_routing;
    uint32_t ipv6_hop_by_hop;
    uint32_t ip_auth;
    uint32_t ipcomp;
    uint32_t ip_esp;
    uint32_t sctp;
    uint32_t icmpv4, icmpv4_bad;
    uint32_t icmpv6;
    uint32_t tcp, tcp_error, tcp_bad;
    uint32_t udp, udp_bad;
    uint32_t grev0, grev1;
    uint32_t ifmp;
    uint32_t irtp, irtp_bad;
    uint32_t cbt;
    uint32_t etherip;
    uint32_t mtp;
    uint32_t pgm;
    uint32_t ipx;
    uint32_t ipx_rip;
    uint32_t spx, spxv2;
    uint32_t dump_load;
    uint32_t ripv1, ripv2;
    uint32_t ripng;
    uint32_t vrrp;
    uint32_t ospfv2, ospfv3;
    uint32_t narp;
    uint32_t egp, egp_bad;
    uint32_t ggp;
    uint32_t igmpv0, igmpv0_bad;
    uint32_t igmpv1, igmpv1_bad;
    uint32_t igmpv2, igmpv2_bad;
    uint32_t igrp, igrp_bad;
    uint32_t eigrp, eigrp_bad;
    uint32_t pimv1, pimv1_bad;
    uint32_t pimv2, pimv2_bad;
    uint32_t bgp;
    uint32_t mpls;
    uint32_t rsvp;
    uint32_t msdp;
    uint32_t gsmp;
};

extern protocol_counters counters;

// Counting happens only under --statistic.
inline void bump(uint32_t& counter) {
    if (settings.statistic) ++counter;
}

void statistics_report();
