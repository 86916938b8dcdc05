#include "decode/ip/ipv6_ext.h"

#include <arpa/inet.h>

#include <cstring>

#include "decode/decoder.h"
#include "decode/ip/ipv6.h"
#include "decode/reassembly/reassembly.h"

namespace {

// The plain text of these frames (the chain ending at the header) stays
// as it always was; the headers are shown under --expand-all and recorded.
bool shown() { return settings.expand_all || recording(); }

constexpr code_name option_names[] = {
    {0x00, "Pad1"},
    {0x01, "PadN"},
    {0x04, "Tunnel encapsulation limit"},
    {0x05, "Router alert"},
    {0x07, "CALIPSO"},
    {0x08, "SMF_DPD"},
    {0x0f, "PDM"},
    {0x26, "Quick-Start"},
    {0x30, "Minimum Path MTU"},
    {0x31, "IOAM"},
    {0x63, "RPL"},
    {0x6d, "MPL"},
    {0x8b, "ILNP nonce"},
    {0x8c, "Line identification"},
    {0xc2, "Jumbo payload"},
    {0xc9, "Home address"},
    {0xee, "IPv6 DFF"},
};

constexpr code_name router_alerts[] = {{0, "MLD"}, {1, "RSVP"}, {2, "Active networks"}};

constexpr code_name mobility_types[] = {
    {0, "Binding Refresh Request"},
    {1, "Home Test Init"},
    {2, "Care-of Test Init"},
    {3, "Home Test"},
    {4, "Care-of Test"},
    {5, "Binding Update"},
    {6, "Binding Acknowledgement"},
    {7, "Binding Error"},
    {8, "Fast Binding Update"},
    {9, "Fast Binding Acknowledgement"},
    {10, "Fast Neighbor Advertisement"},
    {11, "Experimental"},
    {12, "Home Agent Switch"},
    {13, "Heartbeat"},
    {14, "Handover Initiate"},
    {15, "Handover Acknowledge"},
    {16, "Binding Revocation"},
};

constexpr code_name mobility_options[] = {
    {0, "Pad1"},
    {1, "PadN"},
    {2, "Binding Refresh Advice"},
    {3, "Alternate Care-of Address"},
    {4, "Nonce Indices"},
    {5, "Binding Authorization Data"},
};

// Options in the TLV form shared by hop-by-hop and destination options
// (Pad1 alone has no length byte); `names` names them. Bounded by the
// area and by one step per byte at least.
void print_options(decode_context& cx, const uint8_t* p, const uint8_t* end, const code_name* names, size_t name_count,
                   bool ipv6) {
    while (p < end) {
        uint8_t type = get_u8(cx, p);
        item(cx, "options");
        const char* name = "unknown";
        for (size_t i = 0; i < name_count; ++i)
            if (names[i].code == type) name = names[i].name;
        field(cx, "type", "\n  Option: %u", type);
        print_name(cx, "type", name);
        if (type == 0) {  // Pad1
            item_end(cx);
            ++p;
            continue;
        }
        unsigned length = get_u8(cx, p + 1);
        field(cx, "length", ", Length: %u", length);
        const uint8_t* v = p + 2;
        if (v + length > end) {
            zelk_printf(cx.out, " (runs past the header)");
            record_text(cx, "error", "option runs past the header");
            item_end(cx);
            return;
        }
        need(cx, v, length);
        if (ipv6 && type == 0x04 && length == 1)
            field(cx, "tunnel_encapsulation_limit", ", Limit: %u", v[0]);
        else if (ipv6 && type == 0x05 && length == 2) {
            field(cx, "router_alert", ", Value: %u", get_be16(cx, v));
            print_name(cx, "router_alert", find_name(router_alerts, get_be16(cx, v), "unknown"));
        } else if (ipv6 && type == 0xc2 && length == 4)
            field(cx, "jumbo_payload_length", ", Payload Length: %u", get_be32(cx, v));
        else if (ipv6 && type == 0xc9 && length == 16) {
            zelk_printf(cx.out, ", Address: ");
            ipv6_address_field(cx, "home_address", v);
        } else if (!ipv6 && type == 2 && length == 2)
            field(cx, "refresh_interval", ", Refresh Interval: %u", get_be16(cx, v));
        else if (!ipv6 && type == 3 && length == 16) {
            zelk_printf(cx.out, ", Address: ");
            ipv6_address_field(cx, "care_of_address", v);
        } else if (!ipv6 && type == 4 && length == 4) {
            field(cx, "home_nonce_index", ", Home Nonce Index: %u", get_be16(cx, v));
            field(cx, "care_of_nonce_index", ", Care-of Nonce Index: %u", get_be16(cx, v + 2));
        }
        item_end(cx);
        p = v + length;
    }
}

}  // namespace

void ipv6_address_field(decode_context& cx, const char* key, const uint8_t* a) {
    if (recording()) {
        char text[INET6_ADDRSTRLEN];
        inet_ntop(AF_INET6, a, text, sizeof text);
        record_text(cx, key, text);
        return;
    }
    for (int i = 0; i < 16; ++i) zelk_printf(cx.out, i > 0 && i % 2 == 0 ? ":%02x" : "%02x", a[i]);
}

int decode_ipv6_fragment(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    bump(cx.counters.ipv6_fragment);
    if (!shown() && !(reassembly_on() && in_frame(cx, h, 8))) return 0;
    if (shown()) layer(cx, "ipv6_fragment", "- IPv6 Fragment Header -");
    need(cx, h, 8);
    uint8_t next_header = h[0];
    uint16_t word = get_be16(cx, h + 2);
    unsigned fragment_offset = (word & 0xfff8u);  // in bytes: 8-byte units in the top 13 bits
    bool more = word & 1;
    uint32_t id = get_be32(cx, h + 4);
    if (shown()) {
        field(cx, "next_header", "\n  Next header: %u", next_header);
        if (verbose()) print_ipv6_next_header_name(cx, next_header);
        field(cx, "offset", "\n  Fragment Offset: %u", fragment_offset);
        field(cx, "more_fragments", ", More Fragments: %u", more ? 1 : 0);
        field(cx, "id", ", Identification: 0x%08x\n", id);
        summary_note(cx, "frag id 0x%08x offset %u%s", id, fragment_offset, more ? " M" : "");
    }
    // An atomic fragment (offset 0, no more) is a datagram of its own
    // (RFC 6946); the others go to the reassembly table.
    const uint8_t* payload = h + 8;
    size_t payload_length = ip_message_length(cx, payload);
    if (reassembly_on() && (fragment_offset || more) && cx.pseudo.version == 6 && !cx.ip_payload_cut &&
        cx.pseudo.payload && payload >= cx.pseudo.payload && payload_length > 0) {
        fragment_key key{};
        key.version = 6;
        key.protocol = next_header;
        key.id = id;
        memcpy(key.source.data(), cx.pseudo.source, 16);
        memcpy(key.destination.data(), cx.pseudo.destination, 16);
        // The reassembled payload length, with the headers in front of this
        // one, may not pass 65,535 (RFC 8200).
        auto in_front = static_cast<size_t>(payload - cx.pseudo.payload);
        uint32_t limit = in_front < 65535 ? static_cast<uint32_t>(65535 - in_front) : 0;
        fragment_result result = offer_fragment(cx, key, fragment_offset, payload,
                                                static_cast<uint32_t>(payload_length), more, limit);
        show_fragment_result(cx, result, false);
        if (result.verdict == fragment_verdict::completed) {
            reassembled_view view(cx, result.datagram);
            if (view.usable()) decode_ipv6_next_header(cx, view.lengths(), view.frame(), 0, next_header);
            return 0;
        }
    }
    if (!shown()) return 0;
    // Only the first fragment carries the next header; the others carry
    // the middle of a payload.
    if (fragment_offset != 0) return 0;
    return decode_ipv6_next_header(cx, lengths, frame, offset + 8, next_header);
}

int decode_ipv6_destination(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    bump(cx.counters.ipv6_destination);
    if (!shown()) return 0;
    layer(cx, "ipv6_destination", "- IPv6 Destination Options Header -");
    need(cx, h, 2);
    uint8_t next_header = h[0];
    unsigned length = (h[1] + 1u) * 8;
    field(cx, "next_header", "\n  Next header: %u", next_header);
    if (verbose()) print_ipv6_next_header_name(cx, next_header);
    field(cx, "length", "\n  Header Extension Length: %u", h[1]);
    print_options(cx, h + 2, h + length, option_names, sizeof option_names / sizeof option_names[0], true);
    zelk_printf(cx.out, "\n");
    return decode_ipv6_next_header(cx, lengths, frame, offset + length, next_header);
}

int decode_ipv6_mobility(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    bump(cx.counters.ipv6_mobility);
    if (!shown()) return 0;
    layer(cx, "ipv6_mobility", "- IPv6 Mobility Header -");
    need(cx, h, 6);
    unsigned length = (h[1] + 1u) * 8;
    uint8_t type = h[2];
    field(cx, "payload_proto", "\n  Payload Proto: %u", h[0]);
    field(cx, "length", ", Header Length: %u", h[1]);
    field(cx, "type", "\n  MH Type: %u", type);
    print_name(cx, "type", find_name(mobility_types, type, "unknown"));
    field(cx, "checksum", ", Checksum: 0x%04x", get_be16(cx, h + 4));
    summary_note(cx, "%s", find_name(mobility_types, type, "unknown type"));
    // The fixed part of the messages whose options follow it.
    const uint8_t* options = nullptr;
    if (type == 5 && length >= 12) {
        field(cx, "sequence", "\n  Sequence: %u", get_be16(cx, h + 6));
        field(cx, "flags", ", Flags: 0x%04x", get_be16(cx, h + 8));
        field(cx, "lifetime", ", Lifetime: %u", get_be16(cx, h + 10));
        options = h + 12;
    } else if (type == 6 && length >= 12) {
        field(cx, "status", "\n  Status: %u", get_u8(cx, h + 6));
        field(cx, "flags", ", Flags: 0x%02x", get_u8(cx, h + 7));
        field(cx, "sequence", ", Sequence: %u", get_be16(cx, h + 8));
        field(cx, "lifetime", ", Lifetime: %u", get_be16(cx, h + 10));
        options = h + 12;
    } else if (type == 0 && length >= 8)
        options = h + 8;
    else
        field(cx, "data_length", "\n  Message Data: %u bytes", length - 6);
    if (options)
        print_options(cx, options, h + length, mobility_options, sizeof mobility_options / sizeof mobility_options[0],
                      false);
    zelk_printf(cx.out, "\n");
    // The mobility header ends the chain: its payload proto is 59 by rule.
    return 0;
}
