#include <cstring>

#include "decode/decoder.h"
#include "driver/run.h"
#include "output/record.h"
#include "stats/counters.h"
#include "stats/views.h"

protocol_counters counters;

namespace {

// Protocols beyond the classic rows: a block of its own, shown once any of
// them was seen, so that the classic report keeps its layout.
void more_protocols_report() {
    static const struct {
        const char* label;
        uint32_t protocol_counters::*counter;
    } rows[] = {
        {"DNS", &protocol_counters::dns},
        {"mDNS", &protocol_counters::mdns},
        {"LLMNR", &protocol_counters::llmnr},
        {"DHCP", &protocol_counters::dhcp},
        {"DHCPv6", &protocol_counters::dhcpv6},
        {"NTP", &protocol_counters::ntp},
        {"HTTP", &protocol_counters::http},
        {"TLS", &protocol_counters::tls},
        {"QUIC", &protocol_counters::quic},
        {"SSH", &protocol_counters::ssh},
        {"Syslog", &protocol_counters::syslog},
        {"SNMP", &protocol_counters::snmp},
        {"VXLAN", &protocol_counters::vxlan},
        {"Geneve", &protocol_counters::geneve},
        {"LLDP", &protocol_counters::lldp},
        {"STP", &protocol_counters::stp},
        {"LACP", &protocol_counters::lacp},
        {"802.1ad", &protocol_counters::qinq},
        {"IPv6 Fragment", &protocol_counters::ipv6_fragment},
        {"IPv6 Dst-Opts", &protocol_counters::ipv6_destination},
        {"IPv6 Mobility", &protocol_counters::ipv6_mobility},
        {"ICMPv6 bad", &protocol_counters::icmpv6_bad},
        {"SLARP", &protocol_counters::slarp},
        {"IP reassembled", &protocol_counters::ip_reassembled},
        {"Frag. incomplete", &protocol_counters::ip_fragments_incomplete},
        {"Frag. overlaps", &protocol_counters::ip_fragment_overlaps},
        {"Frag. dropped", &protocol_counters::ip_fragments_dropped},
        {"Reasm. evicted", &protocol_counters::reassembly_evicted},
        {"TCP reassembled", &protocol_counters::tcp_messages_reassembled},
        {"TCP incomplete", &protocol_counters::tcp_messages_incomplete},
        {"Cooked v2", &protocol_counters::linux_cooked_v2},
        {"IGMPv3", &protocol_counters::igmpv3},
        {"ICMP quotes", &protocol_counters::icmp_quote},
        {"FTP", &protocol_counters::ftp},
        {"SMTP", &protocol_counters::smtp},
        {"POP3", &protocol_counters::pop3},
        {"IMAP", &protocol_counters::imap},
        {"SIP", &protocol_counters::sip},
        {"Redis", &protocol_counters::redis},
        {"MQTT", &protocol_counters::mqtt},
        {"RADIUS", &protocol_counters::radius},
        {"TFTP", &protocol_counters::tftp},
        {"BFD", &protocol_counters::bfd},
        {"LDAP", &protocol_counters::ldap},
        {"Kerberos", &protocol_counters::kerberos},
        {"X.509 certs", &protocol_counters::x509_certificates},
        {"PostgreSQL", &protocol_counters::pgsql},
        {"RTP", &protocol_counters::rtp},
        {"RTCP", &protocol_counters::rtcp},
        {"HTTP/2", &protocol_counters::http2},
    };
    bool any = false;
    for (const auto& row : rows) any = any || counters.*row.counter;
    if (!any) return;
    zelk_printf("\n\n\t\t   * More Protocols *\n");
    int column = 0;
    for (const auto& row : rows) {
        // Two columns, as in the rows above; labels of 8 or more
        // characters take one tab.
        zelk_printf("%s%s%u", row.label, strlen(row.label) < 8 ? "\t\t" : "\t", counters.*row.counter);
        zelk_printf(column == 0 ? "\t\t" : "\n");
        column = 1 - column;
    }
    if (column == 1) zelk_printf("\n");
}

// --statistic-brief: every counter that is not zero, by its JSON name.
void brief_report() {
    zelk_printf("\n--- Packets counted (not zero) ---\n");
    bool any = false;
#define NODRIX_BRIEF_ROW(name)                                                 \
    if (counters.name) {                                                       \
        zelk_printf("%-24s%u\n", #name, static_cast<unsigned>(counters.name)); \
        any = true;                                                            \
    }
    NODRIX_REPORT_COUNTERS(NODRIX_BRIEF_ROW)
    NODRIX_MORE_COUNTERS(NODRIX_BRIEF_ROW)
#undef NODRIX_BRIEF_ROW
    if (!any) zelk_printf("(none)\n");
}

}  // namespace

void statistics_report() {
    const protocol_counters& c = counters;
    if (settings.json) {
        write_json_statistics();
        return;
    }
    zelk_clear_quiet();
    zelk_printf("\n\n---------- Statistics ----------");
    zelk_printf("\n\nStart time:\t%s\n", start_time_text);
    zelk_printf("End time:\t%s\n", zelk_time_string());
    if (options.statistic_brief_given) {
        brief_report();
        print_capture_span();
        return;
    }
    zelk_printf("\n--- Packets counted ---");
    zelk_printf("\nEthernet II\t%u(%u|)", c.ethernet_ii, c.ethernet_ii_short);
    zelk_printf("\t\t802.3raw\t%u", c.ieee8023_raw);
    zelk_printf("\n802.3\t\t%u\t\t802.3snap\t%u", c.ieee8023, c.ieee8023_snap);
    zelk_printf("\n802.1p/1q\t%u\t\t802.11\t\t%u(%u||)", c.vlan, c.ieee80211, c.ieee80211_short);
    zelk_printf("\n802.5token\t%u(%u||)", c.token_ring, c.token_ring_short);
    zelk_printf("\t\tFDDI\t\t%u(%u||)", c.fddi, c.fddi_short);
    zelk_printf("\nARP\t\t%u(|%u|)\t\tPrism mon\t%u", c.arp, c.arp_error, c.prism);
    zelk_printf("\nCDP\t\t%u(%u||)", c.cdp, c.cdp_short);
    zelk_printf("\t\tCisco HDLC\t%u", c.cisco_hdlc);
    zelk_printf("\nCGMP\t\t%u\t\tBOFL\t\t%u", c.cgmp, c.bofl);
    zelk_printf("\nVTP\t\t%u\n", c.vtp);
    zelk_printf("\n\nATM CLIP\t%u(%u/%u)", c.atm_clip + c.atm_clip_llc, c.atm_clip, c.atm_clip_llc);
    zelk_printf("\t\tATM RFC1483\t%u", c.atm_rfc1483);
    zelk_printf("\n\n\t\t   * PPP Protocols *\n");
    zelk_printf("PPP\t\t%u\n", c.ppp);
    zelk_printf("PPPoE\t\t%u\t\tPPPoE Tags\t%u\n", c.pppoe, c.pppoe_tags);
    zelk_printf("IPCP\t\t%u(|%u|)\t\tIPv6CP\t\t%u", c.ipcp, c.ipcp_error, c.ipv6cp);
    zelk_printf("\nIPXCP\t\t%u\t\tATCP\t\t%u\n", c.ipxcp, c.atcp);
    zelk_printf("PAP\t\t%u\t\tCHAP\t\t%u\n", c.pap, c.chap);
    zelk_printf("ECP\t\t%u\t\tLCP\t\t%u\n", c.ecp, c.lcp);
    zelk_printf("LQR\t\t%u\t\tCCP\t\t%u", c.lqr, c.ccp);
    zelk_printf("\n\n\t\t   * IP Protocols *\n");
    zelk_printf("IPv4\t\t%u(|%u|%u)", c.ipv4, c.ipv4_error, c.ipv4_bad);
    zelk_printf("\t\tIPv6\t\t%u\n", c.ipv6);
    zelk_printf("IPv6 Routing\t%u\t\tIPv6 Hop-by-Hop\t%u\n", c.ipv6_routing, c.ipv6_hop_by_hop);
    zelk_printf("IP Auth.\t%u\t\tIPComp\t\t%u", c.ip_auth, c.ipcomp);
    zelk_printf("\nIP ESP\t\t%u\t\tSCTP\t\t%u", c.ip_esp, c.sctp);
    zelk_printf("\nICMPv4\t\t%u(||%u)", c.icmpv4, c.icmpv4_bad);
    zelk_printf("\t\tICMPv6\t\t%u", c.icmpv6);
    zelk_printf("\nTCP\t\t%u(|%u|%u)", c.tcp, c.tcp_error, c.tcp_bad);
    zelk_printf("\t\tUDP\t\t%u(||%u)", c.udp, c.udp_bad);
    zelk_printf("\nGREv0\t\t%u\t\tGREv1\t\t%u", c.grev0, c.grev1);
    zelk_printf("\nIFMP\t\t%u\t\tIRTP\t\t%u(||%u)", c.ifmp, c.irtp, c.irtp_bad);
    zelk_printf("\nCBT\t\t%u\t\tEtherIP\t\t%u", c.cbt, c.etherip);
    zelk_printf("\nMTP\t\t%u\t\tPGM\t\t%u", c.mtp, c.pgm);
    zelk_printf("\n\n\t\t   * IPX Protocols *\n");
    zelk_printf("IPX\t\t%u\t\tRIP\t\t%u\n", c.ipx, c.ipx_rip);
    zelk_printf("SPX\t\t%u\t\tSPXv2\t\t%u", c.spx, c.spxv2);
    zelk_printf("\n\n\t\t   * DEC Protocols *\n");
    zelk_printf("Dump/Load\t%u", c.dump_load);
    zelk_printf("\n\n\t\t   * Routing Protocols *\n");
    zelk_printf("RIPv1\t\t%u\t\tRIPv2\t\t%u\n", c.ripv1, c.ripv2);
    zelk_printf("RIPng\t\t%u\t\tVRRP\t\t%u\n", c.ripng, c.vrrp);
    zelk_printf("OSPFv2\t\t%u\t\tOSPFv3\t\t%u\n", c.ospfv2, c.ospfv3);
    zelk_printf("NARP\t\t%u\t\tEGP\t\t%u(||%u)", c.narp, c.egp, c.egp_bad);
    zelk_printf("\nGGP\t\t%u\t\tIGMPv0\t\t%u(||%u)", c.ggp, c.igmpv0, c.igmpv0_bad);
    zelk_printf("\nIGMPv1\t\t%u(||%u)\t\tIGMPv2\t\t%u(||%u)", c.igmpv1, c.igmpv1_bad, c.igmpv2, c.igmpv2_bad);
    zelk_printf("\nIGRP\t\t%u(||%u)", c.igrp, c.igrp_bad);
    zelk_printf("\t\tEIGRP\t\t%u(||%u)", c.eigrp, c.eigrp_bad);
    zelk_printf("\nPIMv1\t\t%u(||%u)", c.pimv1, c.pimv1_bad);
    zelk_printf("\t\tPIMv2\t\t%u(||%u)\n", c.pimv2, c.pimv2_bad);
    zelk_printf("BGP\t\t%u\t\tMPLS\t\t%u\n", c.bgp, c.mpls);
    zelk_printf("RSVP\t\t%u\t\tMSDP\t\t%u\n", c.rsvp, c.msdp);
    zelk_printf("GSMP\t\t%u\n", c.gsmp);
    more_protocols_report();
    // Scripts read the plain report as it always was; the span joins it
    // when the run asks for the views as well.
    if (options.stats_given) print_capture_span();
}
