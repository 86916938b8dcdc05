#include "decode/link/arp.h"

#include <cstdio>

#include "decode/decoder.h"
#include "decode/ip/ipv4.h"
#include "decode/link/ethernet.h"

namespace {

constexpr const char* hardware_types[] = {
    "Unknown",
    "Ethernet 10 Mbit/FDDI",
    "Amateur Radio AX.25",
    "Proteon Proton Token Ring",
    "Chaos",
    "IEEE 802.x networks",
    "ARCnet",
    "HyperChannel",
    "LanStar",
    "Autonet Short Address",
    "LocalTalk",
    "LoaclNet",
    "Ultra Link",
    "SMDS",
    "FrameRelay",
    "ATM",
    "HDLC",
    "FiberChannel",
    "ATM",
    "Serial Line",
    "ATM",
};

constexpr const char* opcodes[] = {
    "Unknown",
    "ARP request",
    "ARP reply",
    "Reverse ARP request",
    "Reverse ARP reply",
    "Dynamic Reverse ARP request",
    "Dynmaic Reverse ARP reply",
    "Dynmaic Reverse ARP error",
    "Inverse ARP request",
    "Inverse ARP reply",
    "ATM ARP NAK",
    "MARS-Request",
    "MARS-Multi",
    "MARS-MServ",
    "MARS-Join",
    "MARS-Leave",
    "MARS-Nak",
    "MARS-UnServ",
    "MARS-SJoin",
    "MARS-SLeave",
    "MARS-Grouplist-Request",
    "MARS-Grouplist-Reply",
    "MARS-Redirect-Map",
    "MAPOS-UNARP",
};

// Hardware addresses of any length; the vendor suffix needs a full
// six-byte address.
void print_hardware_address(decode_context& cx, const char* key, const char* vendor_key, const uint8_t* p,
                            unsigned length) {
    if (length == 0) {
        zelk_printf(cx.out, "(None given, because hardware length is zero)");
        return;
    }
    need(cx, p, length);
    if (recording()) {
        char text[3 * 256];
        for (unsigned i = 0; i < length; ++i) snprintf(text + 3 * i, 4, i + 1 < length ? "%2.2x:" : "%2.2x", p[i]);
        record_text(cx, key, text, 3 * length - 1);
    } else {
        for (unsigned i = 0; i < length; ++i) zelk_printf(cx.out, i + 1 < length ? "%2.2x:" : "%2.2x", p[i]);
    }
    if (verbose() && length >= 6) print_mac_vendor(cx, p, vendor_key);
}

void print_protocol_address(decode_context& cx, const char* key, const uint8_t* p, unsigned length, uint16_t protocol) {
    if (length == 0) {
        zelk_printf(cx.out, "(None given, because protocol length is zero)");
    } else if (protocol == 0x0800 && length == 4) {
        need(cx, p, 4);
        field(cx, key, "%s", ipv4_text(cx, p));
    } else {
        zelk_printf(cx.out, "<Not implemented @ the moment>");
        record_hex(cx, key, p, captured_from(cx, p, length));
    }
}

bool is_ipv4_pair(uint16_t protocol, unsigned pl) { return protocol == 0x0800 && pl == 4; }

// The summary in the words people use for the two common operations.
void note_summary(decode_context& cx, uint16_t opcode, uint16_t protocol, unsigned hl, unsigned pl, const uint8_t* p) {
    if (!settings.summary) return;
    if (is_ipv4_pair(protocol, pl) && (opcode == 1 || opcode == 2)) {
        need(cx, p, 2 * hl + 2 * pl);
        char sender[48], target[48];
        snprintf(sender, sizeof sender, "%s", ipv4_text(cx, p + hl).c_str());
        snprintf(target, sizeof target, "%s", ipv4_text(cx, p + 2 * hl + pl).c_str());
        if (opcode == 1)
            summary_note(cx, "request who-has %s tell %s", target, sender);
        else if (hl == 6)
            summary_note(cx, "reply %s is-at %s", sender, zelk_mac_to_text(p));
        else
            summary_note(cx, "reply %s", sender);
        return;
    }
    summary_note(cx, "%s", dense_name(opcodes, opcode, "Unknown"));
}

}  // namespace

int decode_arp(decode_context& cx, const uint8_t* frame, unsigned offset) {
    const uint8_t* a = header_at(cx, frame, offset);
    layer(cx, "arp", "\n- ARP Header -\n");
    need(cx, a, 8);
    uint16_t hardware = get_be16(cx, a);
    uint16_t protocol = get_be16(cx, a + 2);
    unsigned hl = a[4], pl = a[5];
    uint16_t opcode = get_be16(cx, a + 6);

    if (expanded(settings.expand_arp)) {
        field(cx, "hardware_type", "  Hardware Type: %d", hardware);
        print_name(cx, "hardware_type", dense_name(hardware_types, hardware, "Unknown"));
        field(cx, "protocol_type", "\n  Protocol Type: %d", protocol);
        print_name(cx, "protocol_type", protocol == 0x0800 ? "IPv4" : "unknown");
        field(cx, "hardware_length", "\n  Hardware Len: %d", hl);
        field(cx, "protocol_length", ", Protocol Len: %d", pl);
        field(cx, "opcode", ", Opcode: %d", opcode);
        print_name(cx, "opcode", dense_name(opcodes, opcode, "Unknown"));

        const uint8_t* p = a + 8;
        zelk_printf(cx.out, "\n  Sender Hardware Addr: ");
        print_hardware_address(cx, "sender_hardware", "sender_vendor", p, hl);
        zelk_printf(cx.out, "\n  Sender Protocol Addr: ");
        print_protocol_address(cx, "sender_protocol", p + hl, pl, protocol);
        zelk_printf(cx.out, "\n  Target Hardware Addr: ");
        print_hardware_address(cx, "target_hardware", "target_vendor", p + hl + pl, hl);
        zelk_printf(cx.out, "\n  Target Protocol Addr: ");
        print_protocol_address(cx, "target_protocol", p + 2 * hl + pl, pl, protocol);
        zelk_printf(cx.out, "\n");

        if ((hardware == 1 || hardware == 6) && hl != 6) {
            zelk_printf(cx.out, "  Error: Invalid length for Ethernet/IEEE 802.x networks\n");
            record_text(cx, "error", "invalid hardware length for Ethernet/IEEE 802.x networks");
            bump(cx.counters.arp_error);
        }
        note_summary(cx, opcode, protocol, hl, pl, p);
    }
    bump(cx.counters.arp);
    return 0;
}
