#include "decode/ip/icmp_quote.h"

#include <arpa/inet.h>

#include "decode/decoder.h"
#include "decode/ip/ipv4.h"
#include "decode/ip/ipv6_ext.h"

namespace {

// A router quotes as much of the datagram as fits, often no more than
// the IP header and 8 bytes: every part is shown only when all its bytes
// are in the quote.
void transport_fields(decode_context& cx, unsigned protocol, const uint8_t* t, long room, const char* what,
                      const char* src, const char* dst) {
    bool icmp = protocol == 1 || protocol == 58;
    bool ports = protocol == 6 || protocol == 17 || protocol == 132 || protocol == 33 || protocol == 136;
    if (icmp && room >= 2) {
        field(cx, "icmp_type", "    Type: %u", get_u8(cx, t));
        field(cx, "icmp_code", ", Code: %u", get_u8(cx, t + 1));
        bool echo = get_u8(cx, t) == (protocol == 1 ? 8 : 128) || get_u8(cx, t) == (protocol == 1 ? 0 : 129);
        if (echo && room >= 8) {
            field(cx, "icmp_identifier", ", Identifier: %u", get_be16(cx, t + 4));
            field(cx, "icmp_seq", ", Seq.: %u", get_be16(cx, t + 6));
        }
        zelk_printf(cx.out, "\n");
        summary_note(cx, "%s, quoting ICMP %s > %s", what, src, dst);
        return;
    }
    if (!ports || room < 4) {
        summary_note(cx, "%s, quoting protocol %u %s > %s", what, protocol, src, dst);
        return;
    }
    unsigned sport = get_be16(cx, t), dport = get_be16(cx, t + 2);
    field(cx, "src_port", "    Src Port: %u", sport);
    field(cx, "dst_port", ", Dst Port: %u", dport);
    if (protocol == 6 && room >= 8) field(cx, "seq", ", Seq.: %u", get_be32(cx, t + 4));
    if (protocol == 17 && room >= 6) field(cx, "udp_length", ", Length: %u", get_be16(cx, t + 4));
    zelk_printf(cx.out, "\n");
    const char* name = protocol == 6 ? "TCP" : protocol == 17 ? "UDP" : "proto";
    summary_note(cx, "%s, quoting %s %s.%u > %s.%u", what, name, src, sport, dst, dport);
}

void quoted_ipv4(decode_context& cx, const uint8_t* q, long room, const char* what) {
    unsigned header = (get_u8(cx, q) & 0x0fu) * 4;
    layer(cx, "icmp_quote", "  - Quoted IPv4 Header -");
    record_number(cx, "version", 4);
    field(cx, "src", "\n    Src IP: %s", ipv4_text(cx, q + 12));
    field(cx, "dst", ", Dst IP: %s", ipv4_text(cx, q + 16));
    unsigned protocol = get_u8(cx, q + 9);
    field(cx, "protocol", "\n    Protocol: %u", protocol);
    field(cx, "ttl", ", TTL: %u", get_u8(cx, q + 8));
    field(cx, "length", ", Length: %u", get_be16(cx, q + 2));
    field(cx, "id", ", ID: %u\n", get_be16(cx, q + 4));
    if (header < 20 || header > room) {
        zelk_printf(cx.out, "    [malformed: header length %u in a %ld-byte quote]\n", header, room);
        record_text(cx, "error", "quoted header length does not fit the quote");
        return;
    }
    // Only a first fragment holds the transport header.
    if (get_be16(cx, q + 6) & 0x1fff) {
        summary_note(cx, "%s, quoting a fragment %s > %s", what, ipv4_text(cx, q + 12).c_str(),
                     ipv4_text(cx, q + 16).c_str());
        return;
    }
    transport_fields(cx, protocol, q + header, room - header, what, ipv4_text(cx, q + 12).c_str(),
                     ipv4_text(cx, q + 16).c_str());
}

void quoted_ipv6(decode_context& cx, const uint8_t* q, long room, const char* what) {
    layer(cx, "icmp_quote", "  - Quoted IPv6 Header -");
    record_number(cx, "version", 6);
    zelk_printf(cx.out, "\n    Src IP: ");
    ipv6_address_field(cx, "src", q + 8);
    zelk_printf(cx.out, "\n    Dst IP: ");
    ipv6_address_field(cx, "dst", q + 24);
    unsigned next = get_u8(cx, q + 6);
    field(cx, "next_header", "\n    Next header: %u", next);
    field(cx, "hop_limit", ", Hop Limit: %u", get_u8(cx, q + 7));
    field(cx, "payload_length", ", Payload length: %u\n", get_be16(cx, q + 4));
    // Extension headers are not walked: the transport is read only when it
    // follows the fixed header directly.
    char src[48], dst[48];
    inet_ntop(AF_INET6, q + 8, src, sizeof src);
    inet_ntop(AF_INET6, q + 24, dst, sizeof dst);
    transport_fields(cx, next, q + 40, room - 40, what, src, dst);
}

}  // namespace

void decode_icmp_quote(decode_context& cx, const uint8_t* q, const char* what) {
    // The quote ends with the ICMP message; a capture cut shorter still
    // ends it at the last captured byte.
    const uint8_t* end = ip_payload_end(cx);
    if (end > cx.end) end = cx.end;
    long room = end - q;
    if (room < 1) return;
    bump(cx.counters.icmp_quote);
    unsigned version = get_u8(cx, q) >> 4;
    if (version == 4 && room >= 20)
        quoted_ipv4(cx, q, room, what);
    else if (version == 6 && room >= 40)
        quoted_ipv6(cx, q, room, what);
    else {
        layer(cx, "icmp_quote", "  - Quoted Datagram -");
        field(cx, "quote_length", "\n    %ld bytes", room);
        field(cx, "version", ", IP version %u\n", version);
        summary_note(cx, "%s, quoting %ld bytes", what, room);
    }
}
