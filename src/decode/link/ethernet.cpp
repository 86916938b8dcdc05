#include "decode/link/ethernet.h"

#include <cstring>

#include "decode/decoder.h"
#include "decode/ip/ipx.h"
#include "decode/link/llc.h"

void print_mac_vendor(decode_context& cx, const uint8_t* mac, const char* key) {
    need(cx, mac, 6);
    if (!lookup_names()) return;
    bool all_ones = true, all_zero = true;
    for (int i = 0; i < 6; ++i) {
        all_ones = all_ones && mac[i] == 0xff;
        all_zero = all_zero && mac[i] == 0;
    }
    if (all_ones)
        field(cx, key, " (Type: %s)", "Broadcast");
    else if (all_zero)
        field(cx, key, " (Type: %s)", "Nothing set");
    else if (recording()) {
        // The table pads names for the text columns.
        const char* name = zelk_vendor_name(mac);
        size_t length = strlen(name);
        while (length > 0 && name[length - 1] == ' ') --length;
        record_text(cx, key, name, length);
    } else
        field(cx, key, " (Vendor: %s)", zelk_vendor_name(mac));
}

int decode_ethernet(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = frame + offset;
    layer(cx, "ethernet", "\n- Ethernet Header -");
    if (lengths->captured_length <= 13) {
        zelk_printf(cx.out, "\nError: Captured data length(%d bytes) < Ethernet packet header length.\n",
                    static_cast<int>(lengths->captured_length));
        bump(cx.counters.ethernet_ii_short);
        return 0;
    }
    uint16_t type = get_be16(cx, h + 12);
    bool show = expanded(settings.expand_ethernet);
    if (show) {
        need(cx, h, 12);
        field(cx, "dst", "\n  MAC Dst: %s", zelk_mac_to_text(h));
        if (verbose()) print_mac_vendor(cx, h, "dst_vendor");
        field(cx, "src", "\n  MAC Src: %s", zelk_mac_to_text(h + 6));
        if (verbose()) print_mac_vendor(cx, h + 6, "src_vendor");
    }

    if (type == 0x8100) {
        offset += 4;
        if (show) {
            layer(cx, "vlan", "");
            field(cx, "tpid", "\n  TPID: 0x%04x", type);
            uint16_t tci = get_be16(cx, h + 14);
            field(cx, "priority", "\n  Priority: %d", tci >> 13);
            field(cx, "cfi", ", TR/CFI: %d", tci & 0x1000);
            field(cx, "vlan_id", "\n  VLAN-ID: %d", tci & 0x0fff);
        }
        uint16_t inner = get_be16(cx, h + 16);
        if (inner <= 1500) {
            decode_llc(cx, lengths, frame, offset, inner);
            bump(cx.counters.vlan);
            return 0;
        }
        if (show) {
            field(cx, "type", "\n  Type: 0x%04x", inner);
            if (verbose()) print_ethertype_name(cx, inner);
        }
        bump(cx.counters.vlan);
        type = inner;
    } else if (type > 1500) {
        if (show) {
            field(cx, "type", "\n  Type(Ethernet II): 0x%04x", type);
            if (verbose()) print_ethertype_name(cx, type);
        }
        bump(cx.counters.ethernet_ii);
    } else {
        if (get_be16(cx, h + 14) == 0xffff) {
            if (show) field(cx, "length", "\n  Length(802.3raw): %d", type);
            bump(cx.counters.ieee8023_raw);
            decode_ipx(cx, frame, offset);
        } else {
            decode_llc(cx, lengths, frame, offset, type);
        }
        return 0;
    }
    decode_ethertype(cx, lengths, frame, offset, type);
    return 0;
}

frame_lengths lengths_from(decode_context& cx, const uint8_t* frame) {
    need(cx, frame, 0);
    auto skip = static_cast<uint32_t>(frame - cx.start);
    auto captured = static_cast<uint32_t>(cx.end - frame);
    return frame_lengths{captured, cx.wire_length > skip ? cx.wire_length - skip : 0};
}

void decode_inner_ethernet(decode_context& cx, const uint8_t* inner) {
    nesting_guard nested(cx);
    frame_lengths lengths = lengths_from(cx, inner);
    inner_frame_view ethernet(cx, nullptr, 14);
    decode_ethernet(cx, &lengths, inner, 0);
}
