#include "decode/app/dhcp.h"

#include <string>

#include "decode/app/message.h"
#include "decode/decoder.h"
#include "decode/ip/ipv4.h"

namespace {

constexpr const char* message_types[] = {
    nullptr,   "Discover", "Offer",      "Request",    "Decline",         "Ack",          "Nak",
    "Release", "Inform",   "ForceRenew", "LeaseQuery", "LeaseUnassigned", "LeaseUnknown", "LeaseActive",
};

constexpr code_name option_names[] = {
    {1, "Subnet mask"},
    {2, "Time offset"},
    {3, "Router"},
    {6, "Domain name server"},
    {12, "Host name"},
    {15, "Domain name"},
    {26, "Interface MTU"},
    {28, "Broadcast address"},
    {42, "NTP servers"},
    {43, "Vendor specific"},
    {50, "Requested IP address"},
    {51, "Lease time"},
    {52, "Option overload"},
    {53, "DHCP message type"},
    {54, "Server identifier"},
    {55, "Parameter request list"},
    {56, "Message"},
    {57, "Maximum message size"},
    {58, "Renewal time"},
    {59, "Rebinding time"},
    {60, "Vendor class identifier"},
    {61, "Client identifier"},
    {81, "Client FQDN"},
    {82, "Relay agent information"},
    {119, "Domain search"},
    {121, "Classless static route"},
    {255, "End"},
};

constexpr uint32_t magic_cookie = 0x63825363;
constexpr size_t fixed_length = 236;

// What the summary says: the message type and the address it is about.
struct dhcp_facts {
    unsigned type = 0;
    std::string address;
};

void print_addresses(decode_context& cx, const message& m, size_t value, unsigned length) {
    zelk_printf(cx.out, length > 4 ? ", Addresses: " : ", Address: ");
    for (unsigned i = 0; i + 4 <= length; i += 4) {
        auto text = ipv4_text(cx, m.at(value + i, 4));
        zelk_printf(cx.out, "%s%s", i ? ", " : "", text.c_str());
        list_text(cx, "addresses", text);
    }
}

void print_option_value(decode_context& cx, const message& m, uint8_t code, size_t value, unsigned length,
                        dhcp_facts& facts) {
    switch (code) {
        case 53:
            if (length == 1) {
                facts.type = m.u8(value);
                field(cx, "message_type", ", Message type: %u", facts.type);
                print_name(cx, "message_type", dense_name(message_types, facts.type, "unknown"));
                return;
            }
            break;
        case 1:
        case 3:
        case 6:
        case 28:
        case 42:
        case 50:
        case 54:
            if (length >= 4 && length % 4 == 0) {
                if (code == 50 && facts.address.empty()) facts.address = ipv4_text(cx, m.at(value, 4));
                print_addresses(cx, m, value, length);
                return;
            }
            break;
        case 51:
        case 58:
        case 59:
            if (length == 4) {
                field(cx, "seconds", ", Seconds: %u", m.be32(value));
                return;
            }
            break;
        case 57:
        case 26:
            if (length == 2) {
                field(cx, "size", ", Size: %u", m.be16(value));
                return;
            }
            break;
        case 12:
        case 15:
        case 56:
        case 60: {
            std::string text = printable_text(cx, m.at(value, length), length);
            field(cx, "text", ", Text: \"%s\"", text);
            return;
        }
        case 55:
            zelk_printf(cx.out, ", Codes:");
            for (unsigned i = 0; i < length; ++i) {
                uint8_t requested = m.u8(value + i);
                zelk_printf(cx.out, "%s %u", i ? "," : "", requested);
                list_number(cx, "codes", requested);
            }
            return;
        case 61:
            if (length >= 2) {
                uint8_t type = m.u8(value);
                field(cx, "hardware_type", ", Hardware type: %u", type);
                if (type == 1 && length == 7) {
                    field(cx, "client_id", ", Address: %s", zelk_mac_to_text(m.at(value + 1, 6)));
                } else {
                    zelk_printf(cx.out, ", Id:");
                    for (unsigned i = 1; i < length; ++i) zelk_printf(cx.out, " %02x", m.u8(value + i));
                    record_hex(cx, "client_id", m.at(value + 1, length - 1), length - 1);
                }
                return;
            }
            break;
        default: break;
    }
    record_hex(cx, "data", m.at(value, length), length);
}

void print_options(decode_context& cx, const message& m, size_t at, dhcp_facts& facts) {
    bool all = expanded(settings.expand_all);
    while (at < m.length) {
        uint8_t code = m.u8(at);
        if (code == 0) {
            ++at;
            continue;
        }
        if (code == 255) {
            if (all) {
                field(cx, "end", "  Option: %u", code);
                print_name(cx, "end", "End");
                zelk_printf(cx.out, "\n");
            }
            return;
        }
        unsigned length = m.u8(at + 1);
        size_t value = at + 2;
        if (value + length > m.length) throw malformed_message{"an option runs past the end of the message"};
        item(cx, "options");
        item_closer close(cx);
        field(cx, "code", "  Option: %u", code);
        print_name(cx, "code", find_name(option_names, code, "unknown"));
        field(cx, "length", ", Length: %u", length);
        print_option_value(cx, m, code, value, length, facts);
        zelk_printf(cx.out, "\n");
        at = value + length;
    }
}

void decode(decode_context& cx, const message& m) {
    bool all = expanded(settings.expand_all);
    uint8_t op = m.u8(0);
    uint8_t hardware_length = m.u8(2);
    field(cx, "op", "  Op: %u", op);
    print_name(cx, "op", op == 1 ? "Request" : op == 2 ? "Reply" : "unknown");
    field(cx, "xid", ", Transaction ID: 0x%08x\n", m.be32(4));
    if (all) {
        field(cx, "hardware_type", "  Hardware type: %u", m.u8(1));
        field(cx, "hardware_length", ", Length: %u", hardware_length);
        field(cx, "hops", ", Hops: %u\n", m.u8(3));
        uint16_t flags = m.be16(10);
        field(cx, "seconds", "  Seconds: %u", m.be16(8));
        field(cx, "flags", ", Flags: 0x%04x", flags);
        record_flag(cx, "broadcast", flags & 0x8000);
        if (flags & 0x8000) zelk_printf(cx.out, " (Broadcast)");
        zelk_printf(cx.out, "\n");
    }
    field(cx, "client_ip", "  Client IP: %s", ipv4_text(cx, m.at(12, 4)));
    field(cx, "your_ip", ", Your IP: %s\n", ipv4_text(cx, m.at(16, 4)));
    field(cx, "server_ip", "  Server IP: %s", ipv4_text(cx, m.at(20, 4)));
    field(cx, "relay_ip", ", Relay IP: %s\n", ipv4_text(cx, m.at(24, 4)));
    std::string client;
    if (hardware_length == 6) {
        client = zelk_mac_to_text(m.at(28, 6));
        field(cx, "client_mac", "  Client hardware address: %s\n", client.c_str());
    } else {
        unsigned n = hardware_length < 16 ? hardware_length : 16;
        zelk_printf(cx.out, "  Client hardware address:");
        for (unsigned i = 0; i < n; ++i) zelk_printf(cx.out, " %02x", m.u8(28 + i));
        zelk_printf(cx.out, "\n");
        record_hex(cx, "client_hardware_address", m.at(28, n), n);
    }
    m.at(0, fixed_length);
    if (all) {
        auto counted_text = [&](size_t at, size_t n) {
            size_t used = 0;
            while (used < n && m.u8(at + used)) ++used;
            return printable_text(cx, m.at(at, used), used);
        };
        field(cx, "server_name", "  Server name: \"%s\"", counted_text(44, 64));
        field(cx, "boot_file", ", Boot file: \"%s\"\n", counted_text(108, 128));
    }

    dhcp_facts facts;
    std::string your = ipv4_text(cx, m.at(16, 4)).c_str();
    if (m.length > fixed_length) {
        if (m.length >= fixed_length + 4 && m.be32(fixed_length) == magic_cookie) {
            if (all) field(cx, "magic_cookie", "  Magic cookie: 0x%08x\n", magic_cookie);
            print_options(cx, m, fixed_length + 4, facts);
        } else {
            size_t rest = m.length - fixed_length;
            field(cx, "vendor_length", "  Vendor data: %u bytes\n", static_cast<unsigned>(rest));
            record_hex(cx, "vendor_data", m.at(fixed_length, rest), rest);
        }
    }
    if (!recording()) return;
    const char* type = facts.type ? dense_name(message_types, facts.type, "unknown")
                       : op == 1  ? "BOOTP request"
                                  : "BOOTP reply";
    if (your != "0.0.0.0") facts.address = your;
    summary_note(cx, "%s%s%s%s%s", type, facts.address.empty() ? "" : " ", facts.address.c_str(),
                 client.empty() ? "" : " client ", client.c_str());
}

}  // namespace

int decode_dhcp(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    layer(cx, "dhcp", "- DHCP Header -\n");
    bump(cx.counters.dhcp);
    try {
        decode(cx, payload_message(cx, frame, offset));
    } catch (const malformed_message& e) {
        report_malformed(cx, e);
    }
    return 0;
}
