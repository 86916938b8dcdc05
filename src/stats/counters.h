// Protocol counters: one per row of the statistics report, plus its error
// columns (_short: too-short, _error: protocol error, _bad: bad checksum).
// The list names every counter once; the record, the report and the
// structured statistics are built from it.
#pragma once

#include <cstdint>

#include "driver/settings.h"

// The rows of the classic report.
#define NODRIX_REPORT_COUNTERS(X)                                                                                    \
    X(ethernet_ii)                                                                                                   \
    X(ethernet_ii_short) X(ieee8023_raw) X(ieee8023) X(ieee8023_snap) X(vlan) X(ieee80211) X(ieee80211_short)        \
        X(token_ring) X(token_ring_short) X(fddi) X(fddi_short) X(arp) X(arp_error) X(prism) X(cdp) X(cdp_short)     \
            X(cisco_hdlc) X(cgmp) X(bofl) X(vtp) X(atm_clip) X(atm_clip_llc) X(atm_rfc1483) X(ppp) X(pppoe)          \
                X(pppoe_tags) X(ipcp) X(ipcp_error) X(ipv6cp) X(ipxcp) X(atcp) X(pap) X(chap) X(ecp) X(lcp) X(lqr)   \
                    X(ccp) X(ipv4) X(ipv4_error) X(ipv4_bad) X(ipv6) X(ipv6_routing) X(ipv6_hop_by_hop) X(ip_auth)   \
                        X(ipcomp) X(ip_esp) X(sctp) X(icmpv4) X(icmpv4_bad) X(icmpv6) X(tcp) X(tcp_error) X(tcp_bad) \
                            X(udp) X(udp_bad) X(grev0) X(grev1) X(ifmp) X(irtp) X(irtp_bad) X(cbt) X(etherip) X(mtp) \
                                X(pgm) X(ipx) X(ipx_rip) X(spx) X(spxv2) X(dump_load) X(ripv1) X(ripv2) X(ripng)     \
                                    X(vrrp) X(ospfv2) X(ospfv3) X(narp) X(egp) X(egp_bad) X(ggp) X(igmpv0)           \
                                        X(igmpv0_bad) X(igmpv1) X(igmpv1_bad) X(igmpv2) X(igmpv2_bad) X(igrp)        \
                                            X(igrp_bad) X(eigrp) X(eigrp_bad) X(pimv1) X(pimv1_bad) X(pimv2)         \
                                                X(pimv2_bad) X(bgp) X(mpls) X(rsvp) X(msdp) X(gsmp)

// Protocols decoded beyond the classic set; the report shows them in a
// block of their own after the classic rows.
#define NODRIX_MORE_COUNTERS(X)                                                                                     \
    X(dns)                                                                                                          \
    X(mdns) X(llmnr) X(dhcp) X(dhcpv6) X(ntp) X(http) X(tls) X(quic) X(ssh) X(syslog) X(snmp) X(vxlan) X(geneve)    \
        X(lldp) X(stp) X(lacp) X(qinq) X(ipv6_fragment) X(ipv6_destination) X(ipv6_mobility) X(icmpv6_bad) X(slarp) \
        X(ip_reassembled) X(ip_fragments_incomplete) X(ip_fragment_overlaps) X(ip_fragments_dropped)             \
        X(reassembly_evicted) X(tcp_messages_reassembled) X(tcp_messages_incomplete)                               \
        X(linux_cooked_v2) X(igmpv3) X(icmp_quote) X(ftp) X(smtp) X(pop3) X(imap) X(sip) X(redis) X(mqtt)           \
            X(radius) X(tftp) X(bfd) X(ldap) X(kerberos) X(x509_certificates) X(pgsql) X(rtp) X(rtcp) X(http2)

#define NODRIX_COUNTER_FIELD(name) uint32_t name;
struct protocol_counters {
    NODRIX_REPORT_COUNTERS(NODRIX_COUNTER_FIELD)
    NODRIX_MORE_COUNTERS(NODRIX_COUNTER_FIELD)
};
#undef NODRIX_COUNTER_FIELD

extern protocol_counters counters;

// Counting happens only under --statistic.
inline void bump(uint32_t& counter) {
    if (settings.statistic) ++counter;
}

void statistics_report();
