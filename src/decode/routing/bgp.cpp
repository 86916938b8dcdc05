#include "decode/routing/bgp.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "decode/app/message.h"
#include "decode/decoder.h"
#include "decode/ip/ipv4.h"

namespace {

constexpr const char* message_types[] = {"Unknown", "Open", "Update", "Notification", "Keep-alive", "Route-refresh"};

constexpr unsigned header_length = 19;
// Messages shown from one segment, prefixes of one list, attributes of one
// update, capabilities of one open: bounds on the loops, far above what
// real sessions send in one segment.
constexpr unsigned max_messages = 64;
constexpr unsigned max_entries = 4096;

constexpr code_name capabilities[] = {
    {1, "Multiprotocol"},
    {2, "Route refresh"},
    {3, "Outbound route filtering"},
    {5, "Extended next hop encoding"},
    {6, "Extended message"},
    {9, "BGP role"},
    {64, "Graceful restart"},
    {65, "4-octet AS number"},
    {69, "ADD-PATH"},
    {70, "Enhanced route refresh"},
    {71, "Long-lived graceful restart"},
    {73, "FQDN"},
    {128, "Route refresh (old)"},
};

constexpr code_name attribute_types[] = {
    {1, "ORIGIN"},
    {2, "AS_PATH"},
    {3, "NEXT_HOP"},
    {4, "MULTI_EXIT_DISC"},
    {5, "LOCAL_PREF"},
    {6, "ATOMIC_AGGREGATE"},
    {7, "AGGREGATOR"},
    {8, "COMMUNITIES"},
    {9, "ORIGINATOR_ID"},
    {10, "CLUSTER_LIST"},
    {14, "MP_REACH_NLRI"},
    {15, "MP_UNREACH_NLRI"},
    {16, "EXTENDED_COMMUNITIES"},
    {17, "AS4_PATH"},
    {18, "AS4_AGGREGATOR"},
    {32, "LARGE_COMMUNITY"},
};

constexpr const char* origins[] = {"IGP", "EGP", "INCOMPLETE"};

constexpr code_name error_codes[] = {
    {1, "Message Header Error"},
    {2, "OPEN Message Error"},
    {3, "UPDATE Message Error"},
    {4, "Hold Timer Expired"},
    {5, "Finite State Machine Error"},
    {6, "Cease"},
    {7, "ROUTE-REFRESH Message Error"},
};
constexpr code_name header_errors[] = {
    {1, "Connection Not Synchronized"},
    {2, "Bad Message Length"},
    {3, "Bad Message Type"},
};
constexpr code_name open_errors[] = {
    {1, "Unsupported Version Number"},
    {2, "Bad Peer AS"},
    {3, "Bad BGP Identifier"},
    {4, "Unsupported Optional Parameter"},
    {6, "Unacceptable Hold Time"},
    {7, "Unsupported Capability"},
    {11, "Role Mismatch"},
};
constexpr code_name update_errors[] = {
    {1, "Malformed Attribute List"},
    {2, "Unrecognized Well-known Attribute"},
    {3, "Missing Well-known Attribute"},
    {4, "Attribute Flags Error"},
    {5, "Attribute Length Error"},
    {6, "Invalid ORIGIN Attribute"},
    {8, "Invalid NEXT_HOP Attribute"},
    {9, "Optional Attribute Error"},
    {10, "Invalid Network Field"},
    {11, "Malformed AS_PATH"},
};
constexpr code_name cease_subcodes[] = {
    {1, "Maximum Number of Prefixes Reached"},
    {2, "Administrative Shutdown"},
    {3, "Peer De-configured"},
    {4, "Administrative Reset"},
    {5, "Connection Rejected"},
    {6, "Other Configuration Change"},
    {7, "Connection Collision Resolution"},
    {8, "Out of Resources"},
    {9, "Hard Reset"},
    {10, "BFD Down"},
};

const char* subcode_name(uint8_t code, uint8_t subcode) {
    switch (code) {
        case 1: return find_name(header_errors, subcode, "unknown");
        case 2: return find_name(open_errors, subcode, "unknown");
        case 3: return find_name(update_errors, subcode, "unknown");
        case 6: return find_name(cease_subcodes, subcode, "unknown");
        default: return "unknown";
    }
}

std::string hex_text(const uint8_t* p, size_t n) {
    std::string text;
    char two[3];
    for (size_t i = 0; i < n; ++i) {
        snprintf(two, sizeof two, "%02x", p[i]);
        text += two;
    }
    return text;
}

// A part of the message: [at, end) with every read checked against both.
struct span : message_cursor {
    span(const message& whole, size_t from, size_t to)
        : message_cursor{whole, from, to, "a length runs past the end of its part"} {}
    // The rest of the part as hex digits.
    std::string rest_hex() {
        size_t n = left();
        return hex_text(take(n), n);
    }
};

// One prefix: a length in bits, then as many bytes as the bits need.
// AFI 1 is IPv4, 2 IPv6; other families show their bytes in hex.
std::string take_prefix(span& s, uint16_t afi) {
    unsigned bits = s.u8();
    unsigned width = afi == 2 ? 16 : afi == 1 ? 4 : 0;
    if (width && bits > width * 8) throw malformed_message{"a prefix longer than its address"};
    unsigned n = (bits + 7) / 8;
    const uint8_t* p = s.take(n);
    if (!width) return hex_text(p, n) + "/" + std::to_string(bits);
    uint8_t address[16] = {};
    memcpy(address, p, n);
    char text[INET6_ADDRSTRLEN];
    inet_ntop(afi == 2 ? AF_INET6 : AF_INET, address, text, sizeof text);
    return std::string(text) + "/" + std::to_string(bits);
}

// Prefixes up to the end of the span, one line each under `label`; the
// JSON list `key`. Returns how many there were.
unsigned print_prefixes(decode_context& cx, span s, uint16_t afi, const char* key, const char* label) {
    unsigned n = 0;
    for (; s.left() && n < max_entries; ++n) {
        std::string prefix = take_prefix(s, afi);
        zelk_printf(cx.out, "%s%s\n", label, prefix.c_str());
        list_text(cx, key, prefix.c_str());
    }
    return n;
}

// Whether the AS_PATH segments fill the value exactly with ASNs of this
// width. The open that said whether the session uses 4-octet numbers is
// in another segment, so the width is the one the segments fit.
bool as_path_fits(const message& m, size_t at, size_t end, unsigned width) {
    while (at < end) {
        if (end - at < 2) return false;
        uint8_t type = m.u8(at), count = m.u8(at + 1);
        if (type < 1 || type > 4 || !count) return false;
        at += 2 + static_cast<size_t>(count) * width;
        if (at > end) return false;
    }
    return true;
}

// "65001 65002 {65003,65004}": sequences plain, sets in braces,
// confederation sequences in parentheses and confederation sets in brackets.
std::string as_path_text(span s, unsigned width) {
    static constexpr const char* open[] = {"", "{", "", "(", "["};
    static constexpr const char* close[] = {"", "}", "", ")", "]"};
    std::string text;
    for (unsigned k = 0; s.left() && k < max_entries; ++k) {
        uint8_t type = s.u8(), count = s.u8();
        if (!text.empty()) text += ' ';
        text += open[type % 5];
        for (unsigned i = 0; i < count; ++i) {
            if (i) text += type == 1 || type == 4 ? "," : " ";
            text += std::to_string(width == 4 ? s.be32() : s.be16());
        }
        text += close[type % 5];
    }
    return text;
}

std::string community_text(uint32_t c) {
    switch (c) {
        case 0xFFFF0000: return "GRACEFUL_SHUTDOWN";
        case 0xFFFF029A: return "BLACKHOLE";
        case 0xFFFFFF01: return "NO_EXPORT";
        case 0xFFFFFF02: return "NO_ADVERTISE";
        case 0xFFFFFF03: return "NO_EXPORT_SUBCONFED";
        case 0xFFFFFF04: return "NOPEER";
        default: return std::to_string(c >> 16) + ":" + std::to_string(c & 0xFFFF);
    }
}

void print_capabilities(decode_context& cx, span s) {
    for (unsigned n = 0; s.left() && n < max_entries; ++n) {
        uint8_t code = s.u8(), length = s.u8();
        span value{s.m, s.at, s.at + length};
        s.take(length);
        item(cx, "capabilities");
        item_closer close(cx);
        field(cx, "code", "  Capability: %u", code);
        print_name(cx, "code", find_name(capabilities, code, "unknown"));
        if (code == 1 && length == 4) {
            field(cx, "afi", ", AFI: %u", value.be16());
            value.u8();
            field(cx, "safi", ", SAFI: %u", value.u8());
        } else if (code == 65 && length == 4) {
            field(cx, "as4", ", AS: %u", value.be32());
        } else if (length) {
            field(cx, "length", ", Length: %u", length);
            field(cx, "data", ", Value: %s", value.rest_hex());
        }
        zelk_printf(cx.out, "\n");
    }
}

void decode_open(decode_context& cx, span s) {
    uint8_t version = s.u8();
    uint16_t my_as = s.be16();
    uint16_t hold = s.be16();
    const uint8_t* id = s.take(4);
    field(cx, "version", "  Version: %u", version);
    field(cx, "my_as", ", My AS: %u", my_as);
    field(cx, "hold_time", ", Hold Time: %u", hold);
    field(cx, "identifier", ", Identifier: %s\n", ipv4_text(cx, id));
    summary_note(cx, "OPEN AS %u hold %u id %s", my_as, hold, ipv4_text(cx, id).c_str());
    size_t length = s.u8();
    bool extended = false;
    // A length of 255 with a first parameter of type 255: the parameters
    // have two-byte lengths, and their total follows.
    if (length == 255 && s.left() >= 3 && s.m.u8(s.at) == 255) {
        s.u8();
        length = s.be16();
        extended = true;
    }
    span parameters{s.m, s.at, s.at + length};
    s.take(length);
    for (unsigned n = 0; parameters.left() && n < max_entries; ++n) {
        uint8_t type = parameters.u8();
        size_t size = extended ? parameters.be16() : parameters.u8();
        span value{s.m, parameters.at, parameters.at + size};
        parameters.take(size);
        if (type == 2) {
            print_capabilities(cx, value);
            continue;
        }
        item(cx, "parameters");
        item_closer close(cx);
        field(cx, "type", "  Parameter: %u", type);
        field(cx, "length", ", Length: %lu\n", static_cast<unsigned long>(size));
    }
}

// The value of one path attribute, on the attribute's line; the prefixes
// of MP_REACH_NLRI and MP_UNREACH_NLRI are added to `reached` and `withdrawn`.
void print_attribute_value(decode_context& cx, uint8_t type, span value, unsigned& reached, unsigned& withdrawn) {
    switch (type) {
        case 1: {
            if (value.left() != 1) break;
            uint8_t origin = value.u8();
            field(cx, "origin", ", Origin: %u", origin);
            print_name(cx, "origin", dense_name(origins, origin, "unknown"));
            return;
        }
        case 2:
        case 17: {
            unsigned width = type == 17 || as_path_fits(value.m, value.at, value.end, 4) ? 4 : 2;
            if (!as_path_fits(value.m, value.at, value.end, width)) throw malformed_message{"a malformed AS path"};
            field(cx, "as_bytes", ", AS Size: %u", width);
            field(cx, "as_path", ", AS Path: %s", as_path_text(value, width));
            return;
        }
        case 3:
            if (value.left() != 4) break;
            field(cx, "next_hop", ", Next Hop: %s", ipv4_text(cx, value.take(4)));
            return;
        case 4:
            if (value.left() != 4) break;
            field(cx, "med", ", MED: %u", value.be32());
            return;
        case 5:
            if (value.left() != 4) break;
            field(cx, "local_pref", ", Local Pref: %u", value.be32());
            return;
        case 6:
            if (value.left()) break;
            return;
        case 7:
        case 18: {
            if (value.left() != 6 && value.left() != 8) break;
            uint32_t as = value.left() == 8 ? value.be32() : value.be16();
            field(cx, "aggregator_as", ", Aggregator AS: %u", as);
            field(cx, "aggregator", ", Address: %s", ipv4_text(cx, value.take(4)));
            return;
        }
        case 8: {
            if (value.left() % 4) break;
            zelk_printf(cx.out, ", Communities:");
            for (unsigned n = 0; value.left() && n < max_entries; ++n) {
                std::string c = community_text(value.be32());
                zelk_printf(cx.out, " %s", c.c_str());
                list_text(cx, "communities", c.c_str());
            }
            return;
        }
        case 14:
        case 15: {
            uint16_t afi = value.be16();
            uint8_t safi = value.u8();
            field(cx, "afi", ", AFI: %u", afi);
            field(cx, "safi", ", SAFI: %u", safi);
            if (type == 14) {
                uint8_t length = value.u8();
                const uint8_t* hop = value.take(length);
                // IPv6 may give a global and a link-local address.
                if (afi == 2 && (length == 16 || length == 32)) {
                    uint8_t copy[16];
                    memcpy(copy, hop, 16);
                    char text[INET6_ADDRSTRLEN];
                    inet_ntop(AF_INET6, copy, text, sizeof text);
                    field(cx, "next_hop", ", Next Hop: %s", text);
                } else if (afi == 1 && length == 4) {
                    field(cx, "next_hop", ", Next Hop: %s", ipv4_text(cx, hop));
                } else {
                    field(cx, "next_hop_hex", ", Next Hop: %s", hex_text(hop, length));
                }
                value.u8();  // reserved
            }
            zelk_printf(cx.out, "\n");
            bool unicast = safi == 1 || safi == 2;
            if (unicast)
                (type == 14 ? reached : withdrawn) += print_prefixes(
                    cx, value, afi, type == 14 ? "nlri" : "withdrawn", type == 14 ? "    NLRI: " : "    Withdrawn: ");
            else if (value.left())
                field(cx, "data", "    Data: %s\n", value.rest_hex());
            return;
        }
        default: break;
    }
    std::string data = value.rest_hex();
    if (!data.empty()) field(cx, "data", ", Value: %s", data);
}

void decode_update(decode_context& cx, span s) {
    uint16_t withdrawn_length = s.be16();
    span withdrawn{s.m, s.at, s.at + withdrawn_length};
    s.take(withdrawn_length);
    unsigned withdrawn_count = print_prefixes(cx, withdrawn, 1, "withdrawn", "  Withdrawn: ");
    uint16_t attributes_length = s.be16();
    span attributes{s.m, s.at, s.at + attributes_length};
    s.take(attributes_length);
    unsigned n = 0, reached = 0;
    for (; attributes.left() && n < max_entries; ++n) {
        uint8_t flags = attributes.u8(), type = attributes.u8();
        // The extended-length bit: a two-byte length.
        size_t length = flags & 0x10 ? attributes.be16() : attributes.u8();
        span value{s.m, attributes.at, attributes.at + length};
        attributes.take(length);
        item(cx, "attributes");
        item_closer close(cx);
        field(cx, "type", "  Attribute: %u", type);
        print_name(cx, "type", find_name(attribute_types, type, "unknown"));
        field(cx, "flags", ", Flags: 0x%02x", flags);
        print_attribute_value(cx, type, value, reached, withdrawn_count);
        if (type != 14 && type != 15) zelk_printf(cx.out, "\n");
    }
    reached += print_prefixes(cx, s, 1, "nlri", "  NLRI: ");
    if (!n && !reached && !withdrawn_count)
        summary_note(cx, "UPDATE end of RIB");
    else
        summary_note(cx, "UPDATE %u prefix%s, %u withdrawn, %u attribute%s", reached, reached == 1 ? "" : "es",
                     withdrawn_count, n, n == 1 ? "" : "s");
}

void decode_notification(decode_context& cx, span s) {
    uint8_t code = s.u8(), subcode = s.u8();
    const char* code_text = find_name(error_codes, code, "unknown");
    const char* subcode_text = subcode_name(code, subcode);
    field(cx, "error_code", "  Error: %u", code);
    print_name(cx, "error_code", code_text);
    field(cx, "error_subcode", ", Subcode: %u", subcode);
    print_name(cx, "error_subcode", subcode_text);
    if (s.left()) field(cx, "data", ", Data: %s", s.rest_hex());
    zelk_printf(cx.out, "\n");
    summary_note(cx, "NOTIFICATION %s%s%s", code_text, subcode ? ", " : "", subcode ? subcode_text : "");
}

void decode_body(decode_context& cx, uint8_t type, span s) {
    switch (type) {
        case 1: decode_open(cx, s); break;
        case 2: decode_update(cx, s); break;
        case 3: decode_notification(cx, s); break;
        case 5: {
            uint16_t afi = s.be16();
            s.u8();
            uint8_t safi = s.u8();
            field(cx, "afi", "  AFI: %u", afi);
            field(cx, "safi", ", SAFI: %u\n", safi);
            summary_note(cx, "ROUTE-REFRESH AFI %u SAFI %u", afi, safi);
            break;
        }
        default: break;  // a keep-alive has no body
    }
}

// The specified header lines.
void print_header(decode_context& cx, const uint8_t* h) {
    layer(cx, "bgp", "- BGP Header -");
    zelk_printf(cx.out, "\n  Marker: \"");
    print_text_bytes(cx, h, 16);
    record_hex(cx, "marker", h, 16);
    uint8_t type = get_u8(cx, h + 18);
    uint16_t length = get_be16(cx, h + 16);
    field(cx, "length", "\"\n  Length: %u", length);
    field(cx, "type", ", Type: %u", type);
    print_name(cx, "type", dense_name(message_types, type, "Unknown"));
    zelk_printf(cx.out, "\n");
}

}  // namespace

int decode_bgp(decode_context& cx, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    print_header(cx, h);
    bump(cx.counters.bgp);
    // Expanded: each message's body, then the messages behind it in the
    // segment, each with its own header lines.
    if (!expanded(false)) return 0;
    message m = payload_message(cx, frame, offset);
    try {
        if (m.length < header_length) throw malformed_message{"the message continues in a later segment", true};
        size_t at = 0;
        for (unsigned n = 0; n < max_messages; ++n) {
            size_t length = m.be16(at + 16);
            uint8_t type = m.u8(at + 18);
            if (length < header_length) throw malformed_message{"a message length below the header's 19 bytes"};
            if (length > m.length - at) {
                if (m.cut) m.at(at, length);
                throw malformed_message{"the message continues in a later segment", true};
            }
            decode_body(cx, type, span{m, at + header_length, at + length});
            at += length;
            if (at >= m.length) break;
            if (m.length - at < header_length) {
                if (m.cut) m.at(at, header_length);
                throw malformed_message{"the next message continues in a later segment", true};
            }
            print_header(cx, m.at(at, header_length));
        }
    } catch (const malformed_message& e) {
        report_malformed(cx, e);
    }
    return 0;
}
