#include "decode/link/llc.h"

#include "decode/decoder.h"
#include "decode/ip/ipv4.h"
#include "decode/ip/ipx.h"
#include "decode/link/cisco.h"
#include "decode/link/ethernet.h"
#include "decode/link/stp.h"

namespace {

constexpr unsigned llc_length = 3;
constexpr unsigned snap_length = 8;  // LLC plus OUI and type

constexpr code_name snap_ouis[] = {
    {0x000000, "Encapsulated ethernet"}, {0x00000c, "Cisco protocols"}, {0x0000f8, "Cisco bridging"},
    {0x0080c2, "Bridged ethernet"},      {0x080007, "Appletalk"},
};

constexpr code_name cisco_snap_types[] = {{0x2000, "CDP"}, {0x2001, "CGMP"}, {0x2003, "VTP"}};

const char* sap_name(uint8_t sap) {
    switch (sap) {
        case 0xaa: return "SNAP";
        case 0xe0: return "Novell Netware";
        default: return "unknown";
    }
}

const char* frame_kind(uint8_t control) {
    if ((control & 0x03) == 0x03) return "Unnumbered frame";
    if (control & 0x01) return "Supervisory frame";
    return "I frame";
}

void print_snap_oui_name(decode_context& cx, uint32_t oui) {
    print_name(cx, "oui", find_name(snap_ouis, oui, "unkown"));
}

void print_snap_type_name(decode_context& cx, uint32_t oui, uint16_t type) {
    if (!verbose()) return;
    if (oui == 0x000000 || oui == 0x0000f8)
        print_ethertype_name(cx, type);
    else if (oui == 0x00000c) {
        if (const char* name = find_name(cisco_snap_types, type, nullptr)) print_name(cx, "type", name);
    } else
        print_name(cx, "type", "unknown");
}

void print_llc_fields(decode_context& cx, uint8_t dsap, uint8_t ssap, uint8_t control) {
    field(cx, "dsap", "\n  DSAP: 0x%02x", dsap);
    print_name(cx, "dsap", sap_name(dsap));
    field(cx, "ig_bit", ", IG Bit: %d", dsap & 1);
    print_name(cx, "ig_bit", dsap & 1 ? "Group" : "Individual");

    field(cx, "ssap", "\n  SSAP: 0x%02x", ssap);
    print_name(cx, "ssap", sap_name(ssap));
    field(cx, "cr_bit", ", CR-Bit: %d", ssap & 1);
    print_name(cx, "cr_bit", ssap & 1 ? "Response" : "Command");
    field(cx, "u_bit", ", U-Bit: %d", (ssap >> 1) & 1);
    print_name(cx, "u_bit", ssap & 2 ? "IEEE" : "User");

    field(cx, "control", "\n  Control: 0x%02x", control);
    print_name(cx, "control", frame_kind(control));
    // The LLC test exchange: the poll goes out as a command on SAP 0x88,
    // the reply comes back with the response bit set.
    if (control == 0xf3 && ssap == 0x88) print_name(cx, "llc_ping", "LLCPing, Poll");
    if (control == 0xf3 && ssap == 0x89) print_name(cx, "llc_ping", "LLCPing, Final");
}

// Hands a SNAP payload on by OUI and type.
void dispatch_snap(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset,
                   uint16_t length, uint32_t oui, uint16_t type) {
    unsigned next = offset + snap_length;
    switch (oui) {
        case 0x000000:
        case 0x0000f8: decode_ethertype(cx, lengths, frame, next, type); break;
        case 0x00000c:
            // Cisco protocols; CDP sizes its TLV area by what the 802.3
            // length leaves behind the SNAP header (modulo 65536).
            switch (type) {
                case 0x2000: decode_cdp(cx, lengths, frame, next, static_cast<uint16_t>(length - next)); break;
                case 0x2001: decode_cgmp(cx, frame, next); break;
                case 0x2003: decode_vtp(cx, frame, next); break;
                default: break;  // other Cisco types are not decoded
            }
            break;
        default: zelk_printf(cx.out, "\n"); break;
    }
}

}  // namespace

int decode_llc(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset,
               uint16_t length) {
    const uint8_t* h = header_at(cx, frame, offset);
    layer(cx, "llc", "\n- LLC Header -");
    need(cx, h, llc_length);
    uint8_t dsap = h[0], ssap = h[1], control = h[2];
    bool show = expanded(settings.expand_llc);
    if (show) print_llc_fields(cx, dsap, ssap, control);

    if (dsap == 0xe0 && ssap == 0xe0 && control == 0x03) {
        // Novell 802.2: IPX behind the LLC header, still counted as 802.3.
        decode_ipx(cx, frame, offset + llc_length);
    } else if (dsap == 0x06 && ssap == 0x06) {
        decode_ipv4(cx, lengths, frame, offset + llc_length);
        return 0;
    } else if (dsap == 0xaa && ssap == 0xaa && control == 0x03) {
        need(cx, h, snap_length);
        uint32_t oui = (uint32_t{h[3]} << 16) | (uint32_t{h[4]} << 8) | h[5];
        uint16_t type = get_be16(cx, h + 6);
        if (show) {
            field(cx, "oui", "\n  OUI: 0x%06x", oui);
            print_snap_oui_name(cx, oui);
            field(cx, "type", "\n  Type: 0x%04x", type);
            print_snap_type_name(cx, oui, type);
        }
        bump(cx.counters.ieee8023_snap);
        dispatch_snap(cx, lengths, frame, offset, length, oui, type);
        return 0;
    }
    zelk_printf(cx.out, "\n");
    bump(cx.counters.ieee8023);
    if (dsap == 0x42 && ssap == 0x42 && control == 0x03) decode_stp(cx, lengths, frame, offset + llc_length);
    return 0;
}
