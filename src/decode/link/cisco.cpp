#include "decode/link/cisco.h"

#include <cstdio>
#include <string_view>

#include "decode/decoder.h"
#include "decode/ip/ipv4.h"
#include "decode/link/ethernet.h"

namespace {

constexpr const char* cdp_types[] = {
    nullptr,
    "Device ID",
    "Address",
    "Port ID",
    "Capabilities",
    "Version",
    "Platform",
    "IP Prefix",
    "Protocol-Hello",
    "VTP Management Domain",
    "Native VLAN",
    "Duplex",
    nullptr,
    nullptr,
    "ATA-186 VoIP VLAN request",
    "ATA-186 VoIP VLAN assignment",
    "Power consumption",  // printed without its closing parenthesis
    "MTU",
    "AVVID trusted bitmap",
    "AVVID untrusted bitmap",
    "sysName",
    "sysObjectID",
    "Management addresses",
    "Location",
};

constexpr uint16_t cdp_power_consumption = 16;

struct capability {
    uint8_t bit;
    const char* set;
    const char* clear;
};

constexpr capability capabilities[] = {
    {0x01, "Performs level 3 routing", "Doesn't perform level 3 routing"},
    {0x02, "Performs level 2 transparent bridging", "Doesn't perform level 2 transparent bridging"},
    {0x04, "Performs level 2 source-route bridging", "Doesn't perform level 2 source-route bridging"},
    {0x08, "Performs level 2 switching", "Doesn't perform level 2 switching"},
    {0x10, "Sends and receives packets for network-layer protocols",
     "Doesn't send or receive packets for network-layer protocols"},
    {0x20, "Doesn't forward IGMP Report packets on nonrouter ports", "Forwards IGMP Report packets on nonrouter ports"},
    {0x40, "Provides level 1 functionality", "Doesn't provide level 1 functionality"},
};

void print_cdp_type_name(decode_context& cx, uint16_t type) {
    if (!verbose()) return;
    if (type == cdp_power_consumption) {
        zelk_printf(cx.out, " (%s", cdp_types[type]);
        record_name(cx, "type", cdp_types[type]);
    } else {
        print_name(cx, "type", dense_name(cdp_types, type, "unknown"));
    }
}

// Text values end at their length or at a zero byte, whichever comes first.
void print_cdp_text(decode_context& cx, const char* key, const char* label, const uint8_t* value, unsigned length) {
    zelk_printf(cx.out, "\n  %s: \"", label);
    need(cx, value, length);
    unsigned n = 0;
    while (n < length && value[n] != 0) ++n;
    if (recording())
        record_text(cx, key, reinterpret_cast<const char*>(value), n);
    else
        for (unsigned i = 0; i < n; ++i) print_char(cx, value[i]);
    zelk_printf(cx.out, "\"");
}

// A TLV that cannot be decoded ends the packet; it is counted as short.
int cdp_malformed(decode_context& cx) {
    record_text(cx, "error", "malformed TLV");
    bump(cx.counters.cdp_short);
    bump(cx.counters.cdp);
    return 0;
}

void print_group_address(decode_context& cx, const char* key, const uint8_t* p) {
    need(cx, p, 6);
    zelk_printf(cx.out, "%02x%02x.%02x%02x.%02x%02x", p[0], p[1], p[2], p[3], p[4], p[5]);
    if (recording()) record_text(cx, key, zelk_mac_to_text(p));
}

constexpr const char* vtp_codes[] = {" (Unknown)", " (Summary Advert)", " (Subset Advert)", " (Advert Request)"};

constexpr uint16_t slarp_protocol = 0x8035;
constexpr const char* slarp_codes[] = {"Request", "Reply", "Keepalive"};

// Serial line address resolution: a router asks its peer for an address
// (request), gets address and mask (reply), and keeps the line checked with
// sequence numbers (keepalive).
void decode_slarp(decode_context& cx, const uint8_t* s) {
    layer(cx, "slarp", "\n- SLARP Header -\n");
    uint32_t code = get_be32(cx, s);
    field(cx, "code", "  Code: %u", code);
    const char* name = dense_name(slarp_codes, code, "Unknown");
    if (verbose()) print_name(cx, "code", name);
    if (code <= 1) {
        need(cx, s + 4, 8);
        field(cx, "address", "\n  Address: %s", ipv4_text(cx, s + 4));
        field(cx, "mask", ", Mask: %s\n", ipv4_text(cx, s + 8));
        if (settings.summary) {
            char address[48];
            snprintf(address, sizeof address, "%s", ipv4_text(cx, s + 4).c_str());
            summary_note(cx, "%s %s mask %s", code ? "reply" : "request", address, ipv4_text(cx, s + 8).c_str());
        }
    } else if (code == 2) {
        uint32_t mine = get_be32(cx, s + 4), yours = get_be32(cx, s + 8);
        field(cx, "my_sequence", "\n  My Sequence: %u", mine);
        field(cx, "your_sequence", ", Your Sequence: %u", yours);
        field(cx, "reliability", "\n  Reliability: 0x%04x\n", get_be16(cx, s + 12));
        summary_note(cx, "keepalive seq %u ack %u", mine, yours);
    } else {
        zelk_printf(cx.out, "\n");
        summary_note(cx, "code %u", code);
    }
    bump(cx.counters.slarp);
}

}  // namespace

int decode_cdp(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset,
               uint16_t packet_length) {
    const uint8_t* c = header_at(cx, frame, offset);
    layer(cx, "cdp", "\n- CDP Header -\n");
    field(cx, "version", "  Version: %d", get_u8(cx, c));
    field(cx, "ttl", ", TTL: %ds\n", get_u8(cx, c + 1));
    field(cx, "checksum", "  Checksum: 0x%04x\n", get_be16(cx, c + 2));

    // The length handed in counts the four bytes of version, time to live
    // and checksum too; the TLVs end that much earlier.
    uint16_t area_length = packet_length > 4 ? static_cast<uint16_t>(packet_length - 4) : 0;
    size_t frame_position = static_cast<size_t>(c + 4 - frame);
    for (uint16_t p = 0; p < area_length;) {
        const uint8_t* tlv = c + 4 + p;
        // The TLV header must be captured, and so must its last byte.
        if (!in_frame(cx, tlv, 4)) return cdp_malformed(cx);
        uint16_t type = get_be16(cx, tlv);
        uint16_t length = get_be16(cx, tlv + 2);
        if (length == 0) break;
        if (frame_position + p + length - 1 >= lengths->captured_length) return cdp_malformed(cx);
        // A length shorter than the TLV header would make the value length
        // negative and the walk overlap itself.
        if (length < 4) return cdp_malformed(cx);

        item(cx, "tlvs");
        field(cx, "type", "  Type: %d", type);
        print_cdp_type_name(cx, type);
        const uint8_t* value = tlv + 4;
        unsigned value_length = length - 4u;
        switch (type) {
            case 1: print_cdp_text(cx, "device_id", "Device ID", value, value_length); break;
            case 3: print_cdp_text(cx, "port_id", "Port ID", value, value_length); break;
            case 5: print_cdp_text(cx, "version", "Version", value, value_length); break;
            case 6: print_cdp_text(cx, "platform", "Platform", value, value_length); break;
            case 9: print_cdp_text(cx, "vtp_domain", "VTP Management Domain", value, value_length); break;
            case 4: {
                uint8_t bits = get_u8(cx, tlv + 7);
                field(cx, "capabilities", "\n  Capabilities: 0x%02x", bits);
                if (verbose()) {
                    for (const auto& cap : capabilities) {
                        if (bits & cap.bit)
                            zelk_printf(cx.out, "\n  - 0x%02x is set(%s)", cap.bit, cap.set);
                        else
                            zelk_printf(cx.out, "\n  - 0x%02x isn't set(%s)", cap.bit, cap.clear);
                    }
                }
                break;
            }
            case 7:
                zelk_printf(cx.out, "\n  IPv4 Prefixes(%d):", value_length / 5);
                if (value_length % 5 != 0) {
                    item_end(cx);
                    return cdp_malformed(cx);
                }
                need(cx, value, value_length);
                for (unsigned i = 0; i < value_length; i += 5) {
                    zelk_printf(cx.out, " %u.%u.%u.%u/%u", value[i], value[i + 1], value[i + 2], value[i + 3],
                                value[i + 4]);
                    if (recording()) {
                        char prefix[56];
                        snprintf(prefix, sizeof prefix, "%s/%u", ipv4_text(cx, value + i).c_str(), value[i + 4]);
                        list_text(cx, "prefixes", prefix);
                    }
                }
                break;
            case 10: field(cx, "native_vlan", "\n  Native VLAN ID: %d", get_be16(cx, value)); break;
            case 11: field(cx, "duplex", "\n  Duplex Mode: %s", get_u8(cx, value) == 0 ? "half" : "full"); break;
            default: break;
        }
        field(cx, "length", "\n  Total length: %d\n", length);
        item_end(cx);
        p = static_cast<uint16_t>(p + length);
        if (p < length) break;  // wrapped past 16 bits
    }
    bump(cx.counters.cdp);
    return 0;
}

int decode_cgmp(decode_context& cx, const uint8_t* frame, unsigned offset) {
    const uint8_t* g = header_at(cx, frame, offset);
    layer(cx, "cgmp", "- CGMP Header -\n");
    uint8_t version_type = get_u8(cx, g);
    field(cx, "version", "  Version: %u", version_type >> 4);
    field(cx, "type", ", Type: %u\n", version_type & 0x0f);
    field(cx, "reserved", "  Reserved: %u", get_be16(cx, g + 1));
    field(cx, "count", ", Count: %u\n", get_u8(cx, g + 3));
    zelk_printf(cx.out, "  GDA: ");
    print_group_address(cx, "gda", g + 4);
    zelk_printf(cx.out, ", USA: ");
    print_group_address(cx, "usa", g + 10);
    zelk_printf(cx.out, "\n");
    bump(cx.counters.cgmp);
    return 0;
}

int decode_vtp(decode_context& cx, const uint8_t* frame, unsigned offset) {
    const uint8_t* v = header_at(cx, frame, offset);
    layer(cx, "vtp", "- VTP Header -\n");
    need(cx, v, 2);
    field(cx, "version", "  Version: 0x%02x", v[0]);
    field(cx, "code", ", Code: 0x%02x", v[1]);
    if (verbose()) {
        // The names carry their own parentheses and leading blank.
        const char* name = dense_name(vtp_codes, v[1], vtp_codes[0]);
        zelk_printf(cx.out, " %s", name);
        if (recording()) {
            std::string_view bare(name);
            record_text(cx, "code_name", bare.data() + 2, bare.size() - 3);
        }
    }
    zelk_printf(cx.out, "\n");
    bump(cx.counters.vtp);
    return 0;
}

int decode_cisco_hdlc(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    layer(cx, "cisco_hdlc", "\n- Cisco HDLC Header -\n");
    uint8_t address = get_u8(cx, frame);
    uint16_t protocol = get_be16(cx, frame + 2);
    field(cx, "address", "  Address: 0x%02x", address);
    print_name(cx, "address", address == 0x0f ? "Unicast" : address == 0x8f ? "Multicast" : "Unknown");
    field(cx, "type", "\n  Protocol: 0x%04x", protocol);
    // On serial lines this EtherType is the line's own address resolution,
    // not reverse ARP.
    if (protocol == slarp_protocol) {
        print_name(cx, "type", "SLARP");
        decode_slarp(cx, header_at(cx, frame, offset));
    } else {
        if (verbose()) print_ethertype_name(cx, protocol);
        decode_ethertype(cx, lengths, frame, offset, protocol);
    }
    bump(cx.counters.cisco_hdlc);
    return 0;
}

int decode_bofl(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    const uint8_t* b = header_at(cx, frame, offset);
    layer(cx, "bofl", "\n- BOFL Header -\n");
    uint32_t pdu = get_be32(cx, b);
    field(cx, "pdu", "  PDU: 0x%08x", pdu);
    field(cx, "sequence", ", Sequence: %u\n", get_be32(cx, b + 4));
    bump(cx.counters.bofl);
    return 0;
}
