#include "decode/link/ethernet.h"

#include "decode/decoder.h"
#include "decode/ip/ipx.h"
#include "decode/link/llc.h"

void print_mac_vendor(const uint8_t* mac) {
    need(mac, 6);
    bool all_ones = true, all_zero = true;
    for (int i = 0; i < 6; ++i) {
        all_ones = all_ones && mac[i] == 0xff;
        all_zero = all_zero && mac[i] == 0;
    }
    if (all_ones)
        zelk_printf(" (Type: Broadcast)");
    else if (all_zero)
        zelk_printf(" (Type: Nothing set)");
    else
        zelk_printf(" (Vendor: %s)", zelk_vendor_name(mac));
}

static void print_mac_line(const char* label, const uint8_t* mac) {
    need(mac, 6);
    zelk_printf("\n  MAC %s: %s", label, zelk_mac_to_text(mac));
    if (settings.verbose) print_mac_vendor(mac);
}

int decode_ethernet(const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = frame + offset;
    zelk_printf("\n- Ethernet Header -");
    if (lengths->captured_length <= 13) {
        zelk_printf("\nError: Captured data length(%d bytes) < Ethernet packet header length.\n",
                    static_cast<int>(lengths->captured_length));
        bump(counters.ethernet_ii_short);
        return 0;
    }
    uint16_t type = get_be16(h + 12);
    bool show = expanded(settings.expand_ethernet);
    if (show) {
        print_mac_line("Dst", h);
        print_mac_line("Src", h + 6);
    }

    if (type == 0x8100) {
        offset += 4;
        if (show) {
            zelk_printf("\n  TPID: 0x%04x", type);
            uint16_t tci = get_be16(h + 14);
            zelk_printf("\n  Priority: %d, TR/CFI: %d", tci >> 13, tci & 0x1000);
            zelk_printf("\n  VLAN-ID: %d", tci & 0x0fff);
        }
        uint16_t inner = get_be16(h + 16);
        if (inner <= 1500) {
            decode_llc(lengths, frame, offset, inner);
            bump(counters.vlan);
            return 0;
        }
        if (show) {
            zelk_printf("\n  Type: 0x%04x", inner);
            if (settings.verbose) print_ethertype_name(inner);
        }
        bump(counters.vlan);
        type = inner;
    } else if (type > 1500) {
        if (show) {
            zelk_printf("\n  Type(Ethernet II): 0x%04x", type);
            if (settings.verbose) print_ethertype_name(type);
        }
        bump(counters.ethernet_ii);
    } else {
        if (get_be16(h + 14) == 0xffff) {
            if (show) zelk_printf("\n  Length(802.3raw): %d", type);
            bump(counters.ieee8023_raw);
            decode_ipx(frame, offset);
        } else {
            decode_llc(lengths, frame, offset, type);
        }
        return 0;
    }
    decode_ethertype(lengths, frame, offset, type);
    return 0;
}
