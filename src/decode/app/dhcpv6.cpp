#include "decode/app/dhcpv6.h"

#include <ctime>
#include <string>

#include "decode/app/message.h"
#include "decode/decoder.h"

namespace {

constexpr const char* message_types[] = {
    nullptr,   "Solicit",     "Advertise",           "Request",    "Confirm",    "Renew", "Rebind", "Reply", "Release",
    "Decline", "Reconfigure", "Information-request", "Relay-forw", "Relay-repl",
};

constexpr code_name option_names[] = {
    {1, "Client ID"},
    {2, "Server ID"},
    {3, "IA_NA"},
    {4, "IA_TA"},
    {5, "IA address"},
    {6, "Option request"},
    {7, "Preference"},
    {8, "Elapsed time"},
    {9, "Relay message"},
    {11, "Authentication"},
    {12, "Server unicast"},
    {13, "Status code"},
    {14, "Rapid commit"},
    {15, "User class"},
    {16, "Vendor class"},
    {17, "Vendor options"},
    {18, "Interface ID"},
    {19, "Reconfigure message"},
    {20, "Reconfigure accept"},
    {23, "DNS servers"},
    {24, "Domain list"},
    {25, "IA_PD"},
    {26, "IA prefix"},
    {39, "Client FQDN"},
    {82, "SOL_MAX_RT"},
};

constexpr code_name duid_types[] = {
    {1, "link-layer address plus time"}, {2, "enterprise number"}, {3, "link-layer address"}, {4, "UUID"}};

// Options nest: relay message > IA > address > status code.
constexpr unsigned max_depth = 8;

struct dhcpv6_decoder {
    decode_context& cx;
    const message& m;
    std::string addresses;  // for the summary

    void print_indent(unsigned depth) const {
        for (unsigned i = 0; i < depth; ++i) zelk_printf(cx.out, "  ");
    }

    void print_duid(size_t value, size_t length, unsigned depth) const {
        if (length < 2) throw malformed_message{"DUID too short"};
        uint16_t type = m.be16(value);
        field(cx, "duid_type", ", DUID type: %u", type);
        print_name(cx, "duid_type", find_name(duid_types, type, "unknown"));
        zelk_printf(cx.out, ", DUID:");
        for (size_t i = 2; i < length; ++i) zelk_printf(cx.out, " %02x", m.u8(value + i));
        record_hex(cx, "duid", m.at(value + 2, length - 2), length - 2);
        zelk_printf(cx.out, "\n");
        // The DUID's parts: one more line, under --expand-all.
        if (expanded(false)) print_duid_parts(type, value + 2, length - 2, depth);
    }

    std::string colon_hex(size_t at, size_t n) const {
        static constexpr char digits[] = "0123456789abcdef";
        std::string text;
        for (size_t i = 0; i < n; ++i) {
            uint8_t b = m.u8(at + i);
            if (i) text += ':';
            text += digits[b >> 4];
            text += digits[b & 15];
        }
        return text;
    }

    void print_hardware_address(size_t at, size_t n) const {
        field(cx, "duid_hardware_type", "  Hardware type: %u", m.be16(at));
        std::string address = colon_hex(at + 2, n - 2);
        field(cx, "duid_link_address", ", Link-layer address: %s", address);
    }

    void print_duid_parts(uint16_t type, size_t at, size_t n, unsigned depth) const {
        // A DUID of the wrong size for its type stays the bytes above.
        bool fits = (type == 1 && n >= 6) || (type == 2 && n >= 4) || (type == 3 && n >= 2) || (type == 4 && n == 16);
        if (!fits) return;
        print_indent(depth + 1);
        switch (type) {
            case 1: {
                // Hardware type, seconds since midnight UTC, 1 January 2000,
                // then the address.
                field(cx, "duid_hardware_type", "  Hardware type: %u", m.be16(at));
                uint32_t seconds = m.be32(at + 2);
                field(cx, "duid_time", ", Time: %u", seconds);
                time_t t = static_cast<time_t>(seconds) + 946684800;
                struct tm utc;
                char text[32] = "";
                if (gmtime_r(&t, &utc)) strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
                zelk_printf(cx.out, " (%s)", text);
                record_text(cx, "duid_time_utc", text);
                field(cx, "duid_link_address", ", Link-layer address: %s", colon_hex(at + 6, n - 6));
                break;
            }
            case 2:
                field(cx, "duid_enterprise", "  Enterprise: %u", m.be32(at));
                zelk_printf(cx.out, ", Identifier: %s", colon_hex(at + 4, n - 4).c_str());
                record_hex(cx, "duid_identifier", m.at(at + 4, n - 4), n - 4);
                break;
            case 3: print_hardware_address(at, n); break;
            case 4: {
                std::string uuid;
                static constexpr char digits[] = "0123456789abcdef";
                for (size_t i = 0; i < 16; ++i) {
                    if (i == 4 || i == 6 || i == 8 || i == 10) uuid += '-';
                    uint8_t b = m.u8(at + i);
                    uuid += digits[b >> 4];
                    uuid += digits[b & 15];
                }
                field(cx, "duid_uuid", "  UUID: %s", uuid);
                break;
            }
        }
        zelk_printf(cx.out, "\n");
    }

    void print_domain_list(size_t value, size_t end) const {
        // Uncompressed names, one after another.
        zelk_printf(cx.out, ", Domains: ");
        std::string name;
        bool first = true;
        for (size_t at = value; at < end;) {
            uint8_t n = m.u8(at);
            if (n == 0) {
                zelk_printf(cx.out, "%s%s", first ? "" : ", ", name.empty() ? "<Root>" : name.c_str());
                list_text(cx, "domains", name.c_str());
                first = false;
                name.clear();
                ++at;
                continue;
            }
            if (n > 63 || at + 1 + n > end) throw malformed_message{"a domain name runs past its option"};
            if (!name.empty()) name += '.';
            name += printable_text(cx, m.at(at + 1, n), n);
            at += 1u + n;
        }
        if (!name.empty()) throw malformed_message{"a domain name is not ended"};
    }

    void print_options(size_t at, size_t end, unsigned depth);

    void print_option_value(uint16_t code, size_t value, uint16_t length, unsigned depth) {
        size_t end = value + length;
        switch (code) {
            case 1:
            case 2: print_duid(value, length, depth); return;
            case 3:
            case 25:
                if (length < 12) break;
                field(cx, "iaid", ", IAID: 0x%08x", m.be32(value));
                field(cx, "t1", ", T1: %u", m.be32(value + 4));
                field(cx, "t2", ", T2: %u\n", m.be32(value + 8));
                print_options(value + 12, end, depth + 1);
                return;
            case 4:
                if (length < 4) break;
                field(cx, "iaid", ", IAID: 0x%08x\n", m.be32(value));
                print_options(value + 4, end, depth + 1);
                return;
            case 5: {
                if (length < 24) break;
                auto address = ipv6_text(cx, m.at(value, 16));
                if (addresses.empty()) addresses = address;
                field(cx, "address", ", Address: %s", address);
                field(cx, "preferred_lifetime", ", Preferred: %u", m.be32(value + 16));
                field(cx, "valid_lifetime", ", Valid: %u\n", m.be32(value + 20));
                print_options(value + 24, end, depth + 1);
                return;
            }
            case 26: {
                if (length < 25) break;
                auto prefix = ipv6_text(cx, m.at(value + 9, 16));
                unsigned prefix_length = m.u8(value + 8);
                if (addresses.empty()) addresses = std::string(prefix) + "/" + std::to_string(prefix_length);
                field(cx, "prefix", ", Prefix: %s", prefix);
                field(cx, "prefix_length", "/%u", prefix_length);
                field(cx, "preferred_lifetime", ", Preferred: %u", m.be32(value));
                field(cx, "valid_lifetime", ", Valid: %u\n", m.be32(value + 4));
                print_options(value + 25, end, depth + 1);
                return;
            }
            case 6:
                zelk_printf(cx.out, ", Codes:");
                for (size_t at = value; at + 2 <= end; at += 2) {
                    uint16_t requested = m.be16(at);
                    zelk_printf(cx.out, "%s %u", at == value ? "" : ",", requested);
                    list_number(cx, "codes", requested);
                }
                zelk_printf(cx.out, "\n");
                return;
            case 7:
                if (length != 1) break;
                field(cx, "preference", ", Preference: %u\n", m.u8(value));
                return;
            case 8:
                if (length != 2) break;
                field(cx, "elapsed_cs", ", Elapsed: %u centiseconds\n", m.be16(value));
                return;
            case 9:
                zelk_printf(cx.out, "\n");
                decode_message(value, end, depth + 1);
                return;
            case 13:
                if (length < 2) break;
                field(cx, "status", ", Status: %u", m.be16(value));
                field(cx, "status_message", ", Message: \"%s\"\n",
                      printable_text(cx, m.at(value + 2, length - 2u), length - 2u));
                return;
            case 14: zelk_printf(cx.out, "\n"); return;
            case 23:
                if (length % 16) break;
                zelk_printf(cx.out, ", Addresses: ");
                for (size_t at = value; at < end; at += 16) {
                    auto text = ipv6_text(cx, m.at(at, 16));
                    zelk_printf(cx.out, "%s%s", at == value ? "" : ", ", text.c_str());
                    list_text(cx, "addresses", text);
                }
                zelk_printf(cx.out, "\n");
                return;
            case 24:
                print_domain_list(value, end);
                zelk_printf(cx.out, "\n");
                return;
            default: break;
        }
        zelk_printf(cx.out, "\n");
        record_hex(cx, "data", m.at(value, length), length);
    }

    // Relay messages carry the message they relay as an option.
    void decode_message(size_t at, size_t end, unsigned depth) {
        if (depth > max_depth) throw malformed_message{"options nest too deep"};
        uint8_t type = m.u8(at);
        print_indent(depth);
        field(cx, "msg_type", "  Message type: %u", type);
        print_name(cx, "msg_type", dense_name(message_types, type, "unknown"));
        if (type == 12 || type == 13) {
            field(cx, "hop_count", ", Hop count: %u\n", m.u8(at + 1));
            print_indent(depth);
            field(cx, "link_address", "  Link address: %s", ipv6_text(cx, m.at(at + 2, 16)));
            field(cx, "peer_address", ", Peer address: %s\n", ipv6_text(cx, m.at(at + 18, 16)));
            print_options(at + 34, end, depth);
        } else {
            uint32_t xid = m.be32(at) & 0xffffff;
            field(cx, "xid", ", Transaction ID: 0x%06x\n", xid);
            print_options(at + 4, end, depth);
        }
    }
};

void dhcpv6_decoder::print_options(size_t at, size_t end, unsigned depth) {
    if (depth > max_depth) throw malformed_message{"options nest too deep"};
    while (at < end) {
        uint16_t code = m.be16(at);
        uint16_t length = m.be16(at + 2);
        size_t value = at + 4;
        if (value + length > end) {
            if (end >= m.length) m.at(value, length);
            throw malformed_message{"an option runs past its enclosing option"};
        }
        m.at(value, length);
        item(cx, "options");
        item_closer close(cx);
        print_indent(depth);
        field(cx, "code", "  Option: %u", code);
        print_name(cx, "code", find_name(option_names, code, "unknown"));
        field(cx, "length", ", Length: %u", length);
        print_option_value(code, value, length, depth);
        at = value + length;
    }
}

}  // namespace

int decode_dhcpv6(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    layer(cx, "dhcpv6", "- DHCPv6 Header -\n");
    bump(cx.counters.dhcpv6);
    message m = payload_message(cx, frame, offset);
    dhcpv6_decoder d{cx, m, {}};
    try {
        d.decode_message(0, m.length, 0);
    } catch (const malformed_message& e) {
        report_malformed(cx, e);
    }
    if (recording()) {
        uint8_t type = m.u8(0);
        summary_note(cx, "%s%s%s", dense_name(message_types, type, "unknown"), d.addresses.empty() ? "" : " ",
                     d.addresses.c_str());
    }
    return 0;
}
