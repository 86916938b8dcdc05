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

void print_cdp_type_name(uint16_t type) {
    if (!verbose()) return;
    if (type == cdp_power_consumption) {
        zelk_printf(" (%s", cdp_types[type]);
        record_name("type", cdp_types[type]);
    } else {
        print_name("type", dense_name(cdp_types, type, "unknown"));
    }
}

// Text values end at their length or at a zero byte, whichever comes first.
void print_cdp_text(const char* key, const char* label, const uint8_t* value, unsigned length) {
    zelk_printf("\n  %s: \"", label);
    need(value, length);
    unsigned n = 0;
    while (n < length && value[n] != 0) ++n;
    if (recording())
        record_text(key, reinterpret_cast<const char*>(value), n);
    else
        for (unsigned i = 0; i < n; ++i) print_char(value[i]);
    zelk_printf("\"");
}

// A TLV that cannot be decoded ends the packet; it is counted as short.
int cdp_malformed() {
    record_text("error", "malformed TLV");
    bump(counters.cdp_short);
    bump(counters.cdp);
    return 0;
}

void print_group_address(const char* key, const uint8_t* p) {
    need(p, 6);
    zelk_printf("%02x%02x.%02x%02x.%02x%02x", p[0], p[1], p[2], p[3], p[4], p[5]);
    if (recording()) record_text(key, zelk_mac_to_text(p));
}

constexpr const char* vtp_codes[] = {" (Unknown)", " (Summary Advert)", " (Subset Advert)", " (Advert Request)"};

constexpr uint16_t slarp_protocol = 0x8035;
constexpr const char* slarp_codes[] = {"Request", "Reply", "Keepalive"};

// Serial line address resolution: a router asks its peer for an address
// (request), gets address and mask (reply), and keeps the line checked with
// sequence numbers (keepalive).
void decode_slarp(const uint8_t* s) {
    layer("slarp", "\n- SLARP Header -\n");
    uint32_t code = get_be32(s);
    field("code", "  Code: %u", code);
    const char* name = dense_name(slarp_codes, code, "Unknown");
    if (verbose()) print_name("code", name);
    if (code <= 1) {
        need(s + 4, 8);
        field("address", "\n  Address: %s", ipv4_text(s + 4));
        field("mask", ", Mask: %s\n", ipv4_text(s + 8));
        if (settings.summary) {
            char address[16];
            snprintf(address, sizeof address, "%s", ipv4_text(s + 4));
            summary_note("%s %s mask %s", code ? "reply" : "request", address, ipv4_text(s + 8));
        }
    } else if (code == 2) {
        uint32_t mine = get_be32(s + 4), yours = get_be32(s + 8);
        field("my_sequence", "\n  My Sequence: %u", mine);
        field("your_sequence", ", Your Sequence: %u", yours);
        field("reliability", "\n  Reliability: 0x%04x\n", get_be16(s + 12));
        summary_note("keepalive seq %u ack %u", mine, yours);
    } else {
        zelk_printf("\n");
        summary_note("code %u", code);
    }
    bump(counters.slarp);
}

}  // namespace

int decode_cdp(const frame_lengths* lengths, const uint8_t* frame, unsigned offset, uint16_t packet_length) {
    const uint8_t* c = header_at(frame, offset);
    layer("cdp", "\n- CDP Header -\n");
    field("version", "  Version: %d", get_u8(c));
    field("ttl", ", TTL: %ds\n", get_u8(c + 1));
    field("checksum", "  Checksum: 0x%04x\n", get_be16(c + 2));

    // The length handed in counts the four bytes of version, time to live
    // and checksum too; the TLVs end that much earlier.
    uint16_t area_length = packet_length > 4 ? static_cast<uint16_t>(packet_length - 4) : 0;
    size_t frame_position = static_cast<size_t>(c + 4 - frame);
    for (uint16_t p = 0; p < area_length;) {
        const uint8_t* tlv = c + 4 + p;
        // The TLV header must be captured, and so must its last byte.
        if (!in_frame(tlv, 4)) return cdp_malformed();
        uint16_t type = get_be16(tlv);
        uint16_t length = get_be16(tlv + 2);
        if (length == 0) break;
        if (frame_position + p + length - 1 >= lengths->captured_length) return cdp_malformed();
        // A length shorter than the TLV header would make the value length
        // negative and the walk overlap itself.
        if (length < 4) return cdp_malformed();

        item("tlvs");
        field("type", "  Type: %d", type);
        print_cdp_type_name(type);
        const uint8_t* value = tlv + 4;
        unsigned value_length = length - 4u;
        switch (type) {
            case 1: print_cdp_text("device_id", "Device ID", value, value_length); break;
            case 3: print_cdp_text("port_id", "Port ID", value, value_length); break;
            case 5: print_cdp_text("version", "Version", value, value_length); break;
            case 6: print_cdp_text("platform", "Platform", value, value_length); break;
            case 9: print_cdp_text("vtp_domain", "VTP Management Domain", value, value_length); break;
            case 4: {
                uint8_t bits = get_u8(tlv + 7);
                field("capabilities", "\n  Capabilities: 0x%02x", bits);
                if (verbose()) {
                    for (const auto& cap : capabilities) {
                        if (bits & cap.bit)
                            zelk_printf("\n  - 0x%02x is set(%s)", cap.bit, cap.set);
                        else
                            zelk_printf("\n  - 0x%02x isn't set(%s)", cap.bit, cap.clear);
                    }
                }
                break;
            }
            case 7:
                zelk_printf("\n  IPv4 Prefixes(%d):", value_length / 5);
                if (value_length % 5 != 0) {
                    item_end();
                    return cdp_malformed();
                }
                need(value, value_length);
                for (unsigned i = 0; i < value_length; i += 5) {
                    zelk_printf(" %u.%u.%u.%u/%u", value[i], value[i + 1], value[i + 2], value[i + 3], value[i + 4]);
                    if (recording()) {
                        char prefix[24];
                        snprintf(prefix, sizeof prefix, "%s/%u", ipv4_text(value + i), value[i + 4]);
                        list_text("prefixes", prefix);
                    }
                }
                break;
            case 10: field("native_vlan", "\n  Native VLAN ID: %d", get_be16(value)); break;
            case 11: field("duplex", "\n  Duplex Mode: %s", get_u8(value) == 0 ? "half" : "full"); break;
            default: break;
        }
        field("length", "\n  Total length: %d\n", length);
        item_end();
        p = static_cast<uint16_t>(p + length);
        if (p < length) break;  // wrapped past 16 bits
    }
    bump(counters.cdp);
    return 0;
}

int decode_cgmp(const uint8_t* frame, unsigned offset) {
    const uint8_t* g = header_at(frame, offset);
    layer("cgmp", "- CGMP Header -\n");
    uint8_t version_type = get_u8(g);
    field("version", "  Version: %u", version_type >> 4);
    field("type", ", Type: %u\n", version_type & 0x0f);
    field("reserved", "  Reserved: %u", get_be16(g + 1));
    field("count", ", Count: %u\n", get_u8(g + 3));
    zelk_printf("  GDA: ");
    print_group_address("gda", g + 4);
    zelk_printf(", USA: ");
    print_group_address("usa", g + 10);
    zelk_printf("\n");
    bump(counters.cgmp);
    return 0;
}

int decode_vtp(const uint8_t* frame, unsigned offset) {
    const uint8_t* v = header_at(frame, offset);
    layer("vtp", "- VTP Header -\n");
    need(v, 2);
    field("version", "  Version: 0x%02x", v[0]);
    field("code", ", Code: 0x%02x", v[1]);
    if (verbose()) {
        // The names carry their own parentheses and leading blank.
        const char* name = dense_name(vtp_codes, v[1], vtp_codes[0]);
        zelk_printf(" %s", name);
        if (recording()) {
            std::string_view bare(name);
            record_text("code_name", bare.data() + 2, bare.size() - 3);
        }
    }
    zelk_printf("\n");
    bump(counters.vtp);
    return 0;
}

int decode_cisco_hdlc(const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    layer("cisco_hdlc", "\n- Cisco HDLC Header -\n");
    uint8_t address = get_u8(frame);
    uint16_t protocol = get_be16(frame + 2);
    field("address", "  Address: 0x%02x", address);
    print_name("address", address == 0x0f ? "Unicast" : address == 0x8f ? "Multicast" : "Unknown");
    field("type", "\n  Protocol: 0x%04x", protocol);
    // On serial lines this EtherType is the line's own address resolution,
    // not reverse ARP.
    if (protocol == slarp_protocol) {
        print_name("type", "SLARP");
        decode_slarp(header_at(frame, offset));
    } else {
        if (verbose()) print_ethertype_name(protocol);
        decode_ethertype(lengths, frame, offset, protocol);
    }
    bump(counters.cisco_hdlc);
    return 0;
}

int decode_bofl(const frame_lengths*, const uint8_t* frame, unsigned offset) {
    const uint8_t* b = header_at(frame, offset);
    layer("bofl", "\n- BOFL Header -\n");
    uint32_t pdu = get_be32(b);
    field("pdu", "  PDU: 0x%08x", pdu);
    field("sequence", ", Sequence: %u\n", get_be32(b + 4));
    bump(counters.bofl);
    return 0;
}
