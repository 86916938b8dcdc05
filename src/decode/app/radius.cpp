#include "decode/app/radius.h"

#include <string>

#include "decode/app/app_text.h"
#include "decode/app/message.h"
#include "decode/decoder.h"
#include "decode/ip/ipv4.h"

namespace {

constexpr code_name codes[] = {
    {1, "Access-Request"},
    {2, "Access-Accept"},
    {3, "Access-Reject"},
    {4, "Accounting-Request"},
    {5, "Accounting-Response"},
    {11, "Access-Challenge"},
    {12, "Status-Server"},
    {13, "Status-Client"},
    {40, "Disconnect-Request"},
    {41, "Disconnect-ACK"},
    {42, "Disconnect-NAK"},
    {43, "CoA-Request"},
    {44, "CoA-ACK"},
    {45, "CoA-NAK"},
};

enum class kind { text, address, number, bytes };
struct attribute_type {
    uint8_t type;
    const char* name;
    kind value;
};
constexpr attribute_type attributes[] = {
    {1, "User-Name", kind::text},
    {2, "User-Password", kind::bytes},
    {3, "CHAP-Password", kind::bytes},
    {4, "NAS-IP-Address", kind::address},
    {5, "NAS-Port", kind::number},
    {6, "Service-Type", kind::number},
    {7, "Framed-Protocol", kind::number},
    {8, "Framed-IP-Address", kind::address},
    {9, "Framed-IP-Netmask", kind::address},
    {11, "Filter-Id", kind::text},
    {12, "Framed-MTU", kind::number},
    {18, "Reply-Message", kind::text},
    {24, "State", kind::bytes},
    {25, "Class", kind::bytes},
    {26, "Vendor-Specific", kind::bytes},
    {27, "Session-Timeout", kind::number},
    {28, "Idle-Timeout", kind::number},
    {30, "Called-Station-Id", kind::text},
    {31, "Calling-Station-Id", kind::text},
    {32, "NAS-Identifier", kind::text},
    {40, "Acct-Status-Type", kind::number},
    {41, "Acct-Delay-Time", kind::number},
    {42, "Acct-Input-Octets", kind::number},
    {43, "Acct-Output-Octets", kind::number},
    {44, "Acct-Session-Id", kind::text},
    {45, "Acct-Authentic", kind::number},
    {46, "Acct-Session-Time", kind::number},
    {47, "Acct-Input-Packets", kind::number},
    {48, "Acct-Output-Packets", kind::number},
    {49, "Acct-Terminate-Cause", kind::number},
    {55, "Event-Timestamp", kind::number},
    {60, "CHAP-Challenge", kind::bytes},
    {61, "NAS-Port-Type", kind::number},
    {79, "EAP-Message", kind::bytes},
    {80, "Message-Authenticator", kind::bytes},
    {85, "Acct-Interim-Interval", kind::number},
    {87, "NAS-Port-Id", kind::text},
};

// Vendor-specific attributes whose values are known by type.
struct vendor_attribute {
    uint32_t vendor;
    uint8_t type;
    const char* name;
    kind value;
};
constexpr vendor_attribute vendor_attributes[] = {
    {9, 1, "Cisco-AVPair", kind::text},
    {311, 28, "MS-Primary-DNS-Server", kind::address},
    {311, 29, "MS-Secondary-DNS-Server", kind::address},
};
constexpr code_name vendors[] = {{9, "Cisco"}, {311, "Microsoft"}, {14122, "WISPr"}, {14988, "Mikrotik"}};
constexpr unsigned header_length = 20;

const attribute_type* find_attribute(uint8_t type) {
    for (const auto& a : attributes)
        if (a.type == type) return &a;
    return nullptr;
}

// One JSON key per type of value: text and addresses under "value", numbers
// under "number", anything else as hex under "data".
void print_value(decode_context& cx, const message& m, size_t at, size_t n, const attribute_type* t) {
    kind k = t ? t->value : kind::bytes;
    if (k == kind::address && n == 4) {
        field(cx, "value", ", Value: %s", ipv4_text(cx, m.at(at, 4)));
    } else if (k == kind::number && n == 4) {
        field(cx, "number", ", Value: %u", m.be32(at));
    } else if (k == kind::text) {
        field(cx, "value", ", Value: %s", printable_text(cx, m.at(at, n), n));
    } else {
        zelk_printf(cx.out, ", Value: ");
        for (size_t i = 0; i < n; ++i) zelk_printf(cx.out, "%02x", m.u8(at + i));
        record_hex(cx, "data", m.at(at, n), n);
    }
}

// Vendor-Specific (RFC 2865 5.26): the vendor, then the vendor's own
// attributes when they fill the value in the usual type-length form (one
// byte each); otherwise the rest stays hex.
void print_vendor_specific(decode_context& cx, const message& m, size_t at, size_t n) {
    if (n < 4) {
        print_value(cx, m, at, n, nullptr);
        return;
    }
    uint32_t vendor = m.be32(at);
    field(cx, "vendor_id", ", Vendor: %u", vendor);
    print_name(cx, "vendor_id", find_name(vendors, vendor, "unknown"));
    size_t end = at + n, p = at + 4;
    bool usual = p < end;
    for (size_t q = p; q < end; q += m.u8(q + 1))
        if (q + 2 > end || m.u8(q + 1) < 2 || q + m.u8(q + 1) > end) {
            usual = false;
            break;
        }
    if (!usual) {
        if (p < end) print_value(cx, m, p, end - p, nullptr);
        return;
    }
    zelk_printf(cx.out, "\n");
    for (unsigned count = 0; p < end && count < 256; ++count) {
        uint8_t type = m.u8(p), size = m.u8(p + 1);
        const vendor_attribute* known = nullptr;
        for (const auto& v : vendor_attributes)
            if (v.vendor == vendor && v.type == type) known = &v;
        item(cx, "vendor_attributes");
        item_closer close(cx);
        field(cx, "vendor_type", "    Vendor Attribute: %u", type);
        if (known) print_name(cx, "vendor_type", known->name);
        field(cx, "vendor_length", ", Length: %u", size);
        attribute_type as{type, known ? known->name : nullptr, known ? known->value : kind::bytes};
        print_value(cx, m, p + 2, size - 2u, &as);
        if (count + 1 < 256 && p + size < end) zelk_printf(cx.out, "\n");
        p += size;
    }
}

}  // namespace

int decode_radius(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    layer(cx, "radius", "- RADIUS -");
    bump(cx.counters.radius);
    message m = payload_message(cx, frame, offset);
    try {
        uint8_t code = m.u8(0);
        unsigned length = m.be16(2);
        field(cx, "code", "\n  Code: %u", code);
        print_name(cx, "code", find_name(codes, code, "unknown"));
        field(cx, "identifier", ", Identifier: %u", m.u8(1));
        field(cx, "length", ", Length: %u\n", length);
        bool all = expanded(false);
        if (all) {
            zelk_printf(cx.out, "  Authenticator: ");
            for (size_t i = 4; i < header_length; ++i) zelk_printf(cx.out, "%02x", m.u8(i));
            zelk_printf(cx.out, "\n");
            record_hex(cx, "authenticator", m.at(4, 16), 16);
        }
        if (length < header_length || length > m.length) throw malformed_message{"length field beyond the packet"};
        // Attributes up to the length field; padding behind it is not RADIUS.
        std::string user;
        unsigned count = 0;
        for (size_t at = header_length; at < length; ++count) {
            if (at + 2 > length) throw malformed_message{"an attribute header runs past the packet"};
            uint8_t type = m.u8(at), size = m.u8(at + 1);
            if (size < 2 || at + size > length) throw malformed_message{"an attribute runs past the packet"};
            const attribute_type* t = find_attribute(type);
            if (type == 1) user = printable_text(cx, m.at(at + 2, size - 2u), size - 2u);
            if (all) {
                item(cx, "attributes");
                item_closer close(cx);
                field(cx, "type", "  Attribute: %u", type);
                print_name(cx, "type", t ? t->name : "unknown");
                field(cx, "length", ", Length: %u", size);
                if (type == 26)
                    print_vendor_specific(cx, m, at + 2, size - 2u);
                else
                    print_value(cx, m, at + 2, size - 2u, t);
                zelk_printf(cx.out, "\n");
            }
            at += size;
        }
        if (!all) {
            if (!user.empty()) field(cx, "user_name", "  User-Name: %s\n", user);
            field(cx, "attribute_count", "  Attributes: %u\n", count);
        }
        summary_note(cx, "%s id %u%s%s", find_name(codes, code, "unknown"), m.u8(1), user.empty() ? "" : " user ",
                     user.c_str());
    } catch (const malformed_message& e) {
        report_malformed(cx, e);
    }
    return 0;
}
