#include "decode/ip/icmpv6_nd.h"

#include <arpa/inet.h>

#include <string>

#include "decode/decoder.h"
#include "decode/ip/ipv6_ext.h"

namespace {

// A message holds fewer options than this: each is 8 bytes at least.
constexpr unsigned max_options = 8192;
constexpr unsigned max_records = 4096;

constexpr code_name option_names[] = {
    {1, "Source link-layer address"},
    {2, "Target link-layer address"},
    {3, "Prefix information"},
    {4, "Redirected header"},
    {5, "MTU"},
    {7, "Advertisement interval"},
    {8, "Home agent information"},
    {14, "Nonce"},
    {24, "Route information"},
    {25, "Recursive DNS server"},
    {31, "DNS search list"},
    {37, "Captive portal"},
    {38, "PREF64"},
};

constexpr const char* preferences[] = {"medium", "high", "reserved", "low"};

constexpr code_name record_types[] = {
    {1, "MODE_IS_INCLUDE"},        {2, "MODE_IS_EXCLUDE"},   {3, "CHANGE_TO_INCLUDE_MODE"},
    {4, "CHANGE_TO_EXCLUDE_MODE"}, {5, "ALLOW_NEW_SOURCES"}, {6, "BLOCK_OLD_SOURCES"},
};

std::string address_text(decode_context& cx, const uint8_t* a) {
    char text[INET6_ADDRSTRLEN];
    need(cx, a, 16);
    return inet_ntop(AF_INET6, a, text, sizeof text);
}

void print_flag_names(decode_context& cx, const char* key, uint8_t flags, const char* const names[8]) {
    if (!verbose()) return;
    std::string text;
    for (unsigned bit = 0; bit < 8; ++bit)
        if (flags & (0x80u >> bit) && names[bit]) {
            if (!text.empty()) text += ", ";
            text += names[bit];
        }
    if (!text.empty()) print_name(cx, key, text.c_str());
}

// A prefix of `bits` bits from a field of `size` bytes (the rest counts as zero).
void prefix_field(decode_context& cx, const uint8_t* p, size_t size, unsigned bits) {
    uint8_t full[16] = {};
    need(cx, p, size);
    for (size_t i = 0; i < size && i < 16; ++i) full[i] = p[i];
    zelk_printf(cx.out, "\n    Prefix: ");
    ipv6_address_field(cx, "prefix", full);
    field(cx, "prefix_length", "/%u", bits);
}

// DNS names in wire form, one after another, the last followed by zero
// padding; compression is not allowed here.
void search_list(decode_context& cx, const uint8_t* p, const uint8_t* end) {
    std::string name;
    unsigned steps = 0;
    while (p < end && steps++ < 256) {
        uint8_t length = get_u8(cx, p);
        if (length == 0) {
            if (!name.empty()) {
                zelk_printf(cx.out, "\n    Domain: %s", name.c_str());
                list_text(cx, "domains", name.c_str());
                name.clear();
            }
            ++p;
            continue;
        }
        if (length > 63 || p + 1 + length > end) {
            zelk_printf(cx.out, "\n    Domain: (malformed)");
            record_text(cx, "error", "malformed search list name");
            return;
        }
        need(cx, p + 1, length);
        if (!name.empty()) name += '.';
        for (unsigned i = 0; i < length; ++i) {
            char c = static_cast<char>(p[1 + i]);
            name += c >= 0x21 && c < 0x7f ? c : '?';
        }
        p += 1 + length;
    }
}

// One option; `v` is its body behind type and length, `size` its whole
// length in bytes.
void option(decode_context& cx, uint8_t type, const uint8_t* v, unsigned size) {
    const uint8_t* end = v + size - 2;
    switch (type) {
        case 1:
        case 2:
            if (size == 8) {
                need(cx, v, 6);
                field(cx, "link_address", ", Address: %s", zelk_mac_to_text(v));
            }
            break;
        case 3:
            if (size == 32) {
                need(cx, v, 30);
                static constexpr const char* flag_names[8] = {"On-link", "Autonomous", "Router address"};
                prefix_field(cx, v + 14, 16, v[0]);
                field(cx, "prefix_flags", ", Flags: 0x%02x", v[1]);
                print_flag_names(cx, "prefix_flags", v[1], flag_names);
                field(cx, "valid_lifetime", "\n    Valid Lifetime: %u", get_be32(cx, v + 2));
                field(cx, "preferred_lifetime", ", Preferred Lifetime: %u", get_be32(cx, v + 6));
            }
            break;
        case 4: field(cx, "original_length", ", Original Packet: %u bytes", size - 8); break;
        case 5:
            if (size == 8) field(cx, "mtu", ", MTU: %u", get_be32(cx, v + 2));
            break;
        case 24:
            if (size >= 8 && size <= 24) {
                need(cx, v, 6);
                prefix_field(cx, v + 6, size - 8, v[0]);
                unsigned preference = (v[1] >> 3) & 3;
                field(cx, "route_preference", ", Preference: %u", preference);
                print_name(cx, "route_preference", preferences[preference]);
                field(cx, "route_lifetime", ", Lifetime: %u", get_be32(cx, v + 2));
            }
            break;
        case 25:
            if (size >= 8) {
                field(cx, "lifetime", ", Lifetime: %u", get_be32(cx, v + 2));
                for (const uint8_t* a = v + 6; a + 16 <= end; a += 16) {
                    need(cx, a, 16);
                    zelk_printf(cx.out, "\n    Server: ");
                    if (recording())
                        list_text(cx, "servers", address_text(cx, a).c_str());
                    else
                        ipv6_address_field(cx, "server", a);
                }
            }
            break;
        case 31:
            if (size >= 8) {
                field(cx, "lifetime", ", Lifetime: %u", get_be32(cx, v + 2));
                search_list(cx, v + 6, end);
            }
            break;
        case 14:
            zelk_printf(cx.out, ", Nonce: ");
            need(cx, v, size - 2);
            for (unsigned i = 0; i < size - 2; ++i) zelk_printf(cx.out, "%02x", v[i]);
            record_hex(cx, "nonce", v, size - 2);
            break;
        default: break;
    }
}

void nd_options(decode_context& cx, const uint8_t* p, const uint8_t* end) {
    for (unsigned count = 0; p + 2 <= end && count < max_options; ++count) {
        need(cx, p, 2);
        uint8_t type = p[0];
        unsigned size = p[1] * 8u;
        item(cx, "options");
        field(cx, "type", "  Option: %u", type);
        print_name(cx, "type", find_name(option_names, type, "unknown"));
        field(cx, "length", ", Length: %u", size);
        if (size == 0 || p + size > end) {
            // A zero length cannot advance; both mean the sender is broken.
            zelk_printf(cx.out, size == 0 ? " (invalid length)\n" : " (runs past the message)\n");
            record_text(cx, "error", size == 0 ? "option length 0" : "option runs past the message");
            item_end(cx);
            return;
        }
        option(cx, type, p + 2, size);
        zelk_printf(cx.out, "\n");
        item_end(cx);
        p += size;
    }
}

void mldv2_report(decode_context& cx, const uint8_t* h, const uint8_t* end) {
    layer(cx, "mldv2", "");
    unsigned count = get_be16(cx, h + 6);
    field(cx, "record_count", "  Multicast Address Records: %u\n", count);
    summary_note(cx, "report, %u records", count);
    const uint8_t* p = h + 8;
    for (unsigned i = 0; i < count && i < max_records && p < end; ++i) {
        need(cx, p, 20);
        uint8_t type = p[0];
        unsigned aux_words = p[1], sources = get_be16(cx, p + 2);
        item(cx, "records");
        field(cx, "type", "  Record: %u", type);
        print_name(cx, "type", find_name(record_types, type, "unknown"));
        zelk_printf(cx.out, ", Address: ");
        ipv6_address_field(cx, "address", p + 4);
        field(cx, "sources", ", Sources: %u", sources);
        if (aux_words) field(cx, "aux_length", ", Aux Data: %u words", aux_words);
        zelk_printf(cx.out, "\n");
        const uint8_t* s = p + 20;
        for (unsigned j = 0; j < sources; ++j, s += 16) {
            need(cx, s, 16);
            zelk_printf(cx.out, "    Source: ");
            if (recording())
                list_text(cx, "source_addresses", address_text(cx, s).c_str());
            else
                ipv6_address_field(cx, "source", s);
            zelk_printf(cx.out, "\n");
        }
        item_end(cx);
        p = s + aux_words * 4;
    }
}

}  // namespace

void decode_icmpv6_nd(decode_context& cx, const uint8_t* frame, unsigned offset, uint8_t type) {
    // The plain text of these messages ends at the checksum, as it always
    // did; the body is shown under --expand-all and recorded.
    if (!settings.expand_all && !recording()) return;
    const uint8_t* h = header_at(cx, frame, offset);
    const uint8_t* end = ip_payload_end(cx);
    if (type == 143) {
        mldv2_report(cx, h, end);
        return;
    }
    layer(cx, "icmpv6_nd", "");
    const uint8_t* opts = h + 8;
    switch (type) {
        case 133: summary_note(cx, "router solicitation"); break;
        case 134: {
            need(cx, h, 16);
            static constexpr const char* flag_names[8] = {"Managed", "Other", "Home agent", nullptr, nullptr, "Proxy"};
            field(cx, "cur_hop_limit", "  Cur Hop Limit: %u", h[4]);
            field(cx, "flags", ", Flags: 0x%02x", h[5]);
            print_flag_names(cx, "flags", h[5], flag_names);
            unsigned preference = (h[5] >> 3) & 3;
            field(cx, "router_preference", ", Preference: %u", preference);
            print_name(cx, "router_preference", preferences[preference]);
            field(cx, "router_lifetime", "\n  Router Lifetime: %u", get_be16(cx, h + 6));
            field(cx, "reachable_time", ", Reachable Time: %u", get_be32(cx, h + 8));
            field(cx, "retrans_timer", ", Retrans Timer: %u\n", get_be32(cx, h + 12));
            summary_note(cx, "router advertisement lifetime %u", get_be16(cx, h + 6));
            opts = h + 16;
            break;
        }
        case 135:
        case 136:
        case 137: {
            need(cx, h, 24);
            if (type == 136) {
                static constexpr const char* flag_names[8] = {"Router", "Solicited", "Override"};
                field(cx, "flags", "  Flags: 0x%02x", h[4]);
                print_flag_names(cx, "flags", h[4], flag_names);
                zelk_printf(cx.out, "\n");
            }
            zelk_printf(cx.out, "  Target: ");
            ipv6_address_field(cx, "target", h + 8);
            zelk_printf(cx.out, "\n");
            opts = h + 24;
            if (type == 137) {
                need(cx, h, 40);
                zelk_printf(cx.out, "  Destination: ");
                ipv6_address_field(cx, "destination", h + 24);
                zelk_printf(cx.out, "\n");
                opts = h + 40;
            }
            if (recording()) {
                std::string target = address_text(cx, h + 8);
                if (type == 135) summary_note(cx, "neighbor solicitation who-has %s", target.c_str());
                if (type == 136) summary_note(cx, "neighbor advertisement %s", target.c_str());
                if (type == 137)
                    summary_note(cx, "redirect %s via %s", address_text(cx, h + 24).c_str(), target.c_str());
            }
            break;
        }
        default: return;
    }
    nd_options(cx, opts, end);
}
