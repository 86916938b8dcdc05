#include "decode/app/dispatch.h"

#include "decode/app/bfd.h"
#include "decode/app/dhcp.h"
#include "decode/app/dhcpv6.h"
#include "decode/app/dns.h"
#include "decode/app/ftp.h"
#include "decode/app/geneve.h"
#include "decode/app/http.h"
#include "decode/app/http2.h"
#include "decode/app/imap.h"
#include "decode/app/kerberos.h"
#include "decode/app/ldap.h"
#include "decode/app/mqtt.h"
#include "decode/app/ntp.h"
#include "decode/app/pgsql.h"
#include "decode/app/pop3.h"
#include "decode/app/quic.h"
#include "decode/app/radius.h"
#include "decode/app/redis.h"
#include "decode/app/rtp.h"
#include "decode/app/sessions.h"
#include "decode/app/sip.h"
#include "decode/app/smtp.h"
#include "decode/app/snmp.h"
#include "decode/app/ssh.h"
#include "decode/app/syslog.h"
#include "decode/app/tftp.h"
#include "decode/app/tls.h"
#include "decode/app/vxlan.h"
#include "decode/decoder.h"

namespace {

struct port_row {
    uint16_t port;
    app_decoder decoder;
};

// Well-known ports; the first row whose port is either port wins.
constexpr port_row udp_ports[] = {
    {53, decode_dns},     {67, decode_dhcp},     {68, decode_dhcp},     {123, decode_ntp},     {161, decode_snmp},
    {162, decode_snmp},   {443, decode_quic},    {514, decode_syslog},  {546, decode_dhcpv6},  {547, decode_dhcpv6},
    {4789, decode_vxlan}, {5353, decode_mdns},   {5355, decode_llmnr},  {6081, decode_geneve}, {5060, decode_sip},
    {69, decode_tftp},    {1812, decode_radius}, {1813, decode_radius}, {3784, decode_bfd},    {4784, decode_bfd},
    {88, decode_kerberos}, {389, decode_ldap},
};

constexpr port_row tcp_ports[] = {
    {22, decode_ssh},   {53, decode_dns_tcp}, {21, decode_ftp},   {25, decode_smtp},    {587, decode_smtp},
    {110, decode_pop3}, {143, decode_imap},   {5060, decode_sip}, {6379, decode_redis}, {1883, decode_mqtt},
    {88, decode_kerberos_tcp}, {389, decode_ldap_tcp}, {3268, decode_ldap_tcp},
    {5432, decode_pgsql},
};

// Content tests for payloads on any port, cheapest first: each looks at a
// few leading bytes and says whether its decoder should take the payload.
struct content_row {
    bool (*looks_like)(decode_context& cx, const uint8_t* payload, size_t length);
    app_decoder decoder;
};

constexpr content_row udp_content[] = {
    {looks_like_quic_long, decode_quic},
    {looks_like_rtcp, decode_rtcp},
    {looks_like_rtp, decode_rtp},
};

bool h2_preface(decode_context& cx, const uint8_t* payload, size_t length) {
    return looks_like_h2_preface(payload, captured_from(cx, payload, length));
}

// A connection known to carry HTTP/2 comes before the ports; the preface
// starts one on any port.
constexpr content_row tcp_flows[] = {
    {known_h2_flow, decode_http2},
};

constexpr content_row tcp_content[] = {
    {h2_preface, decode_http2},
    {looks_like_tls, decode_tls},
    {looks_like_http, decode_http},
    {looks_like_h2_settings, decode_http2},
};

template <size_t P, size_t C>
bool dispatch(decode_context& cx, const port_row (&ports)[P], const content_row (&content)[C],
              const frame_lengths* lengths, const uint8_t* frame, unsigned offset, uint16_t source_port,
              uint16_t destination_port) {
    const uint8_t* payload = header_at(cx, frame, offset);
    size_t length = ip_message_length(cx, payload);
    if (length == 0) return false;
    cx.source_port = source_port;
    cx.destination_port = destination_port;
    for (const port_row& row : ports)
        if (row.decoder && (row.port == source_port || row.port == destination_port)) {
            row.decoder(cx, lengths, frame, offset);
            return true;
        }
    for (const content_row& row : content)
        if (row.looks_like(cx, payload, length)) {
            row.decoder(cx, lengths, frame, offset);
            return true;
        }
    return false;
}

}  // namespace

bool udp_may_carry_frames(uint16_t source_port, uint16_t destination_port) {
    for (const port_row& row : udp_ports)
        if ((row.decoder == decode_vxlan || row.decoder == decode_geneve) &&
            (row.port == source_port || row.port == destination_port))
            return true;
    return false;
}

bool decode_udp_application(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset,
                            uint16_t source_port, uint16_t destination_port) {
    // A TFTP transfer goes on between ports that the request announced.
    cx.source_port = source_port;
    cx.destination_port = destination_port;
    const follower* followed = find_follower(cx);
    if (followed && *followed == follower::tftp && ip_message_length(cx, header_at(cx, frame, offset))) {
        decode_tftp(cx, lengths, frame, offset);
        return true;
    }
    return dispatch(cx, udp_ports, udp_content, lengths, frame, offset, source_port, destination_port);
}

bool decode_tcp_application(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset,
                            uint16_t source_port, uint16_t destination_port) {
    cx.source_port = source_port;
    cx.destination_port = destination_port;
    const uint8_t* payload = header_at(cx, frame, offset);
    size_t length = ip_message_length(cx, payload);
    for (const content_row& row : tcp_flows)
        if (length && row.looks_like(cx, payload, length)) {
            row.decoder(cx, lengths, frame, offset);
            return true;
        }
    // An FTP data connection, on the port its control connection announced.
    const follower* followed = find_follower(cx);
    if (length && followed && *followed != follower::tftp) {
        decode_ftp_data(cx, lengths, frame, offset);
        return true;
    }
    return dispatch(cx, tcp_ports, tcp_content, lengths, frame, offset, source_port, destination_port);
}
