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
void print_hardware_address(const char* key, const char* vendor_key, const uint8_t* p, unsigned length) {
    if (length == 0) {
        zelk_printf("(None given, because hardware length is zero)");
        return;
    }
    need(p, length);
    if (recording()) {
        char text[3 * 256];
        for (unsigned i = 0; i < length; ++i) snprintf(text + 3 * i, 4, i + 1 < length ? "%2.2x:" : "%2.2x", p[i]);
        record_text(key, text, 3 * length - 1);
    } else {
        for (unsigned i = 0; i < length; ++i) zelk_printf(i + 1 < length ? "%2.2x:" : "%2.2x", p[i]);
    }
    if (verbose() && length >= 6) print_mac_vendor(p, vendor_key);
}

void print_protocol_address(const char* key, const uint8_t* p, unsigned length, uint16_t protocol) {
    if (length == 0) {
        zelk_printf("(None given, because protocol length is zero)");
    } else if (protocol == 0x0800 && length == 4) {
        need(p, 4);
        field(key, "%s", ipv4_text(p));
    } else {
        zelk_printf("<Not implemented @ the moment>");
        record_hex(key, p, captured_from(p, length));
    }
}

bool is_ipv4_pair(uint16_t protocol, unsigned pl) { return protocol == 0x0800 && pl == 4; }

// The summary in the words people use for the two common operations.
void note_summary(uint16_t opcode, uint16_t protocol, unsigned hl, unsigned pl, const uint8_t* p) {
    if (!settings.summary) return;
    if (is_ipv4_pair(protocol, pl) && (opcode == 1 || opcode == 2)) {
        need(p, 2 * hl + 2 * pl);
        char sender[16], target[16];
        snprintf(sender, sizeof sender, "%s", ipv4_text(p + hl));
        snprintf(target, sizeof target, "%s", ipv4_text(p + 2 * hl + pl));
        if (opcode == 1)
            summary_note("request who-has %s tell %s", target, sender);
        else if (hl == 6)
            summary_note("reply %s is-at %s", sender, zelk_mac_to_text(p));
        else
            summary_note("reply %s", sender);
        return;
    }
    summary_note("%s", dense_name(opcodes, opcode, "Unknown"));
}

}  // namespace

int decode_arp(const uint8_t* frame, unsigned offset) {
    const uint8_t* a = header_at(frame, offset);
    layer("arp", "\n- ARP Header -\n");
    need(a, 8);
    uint16_t hardware = get_be16(a);
    uint16_t protocol = get_be16(a + 2);
    unsigned hl = a[4], pl = a[5];
    uint16_t opcode = get_be16(a + 6);

    if (expanded(settings.expand_arp)) {
        field("hardware_type", "  Hardware Type: %d", hardware);
        print_name("hardware_type", dense_name(hardware_types, hardware, "Unknown"));
        field("protocol_type", "\n  Protocol Type: %d", protocol);
        print_name("protocol_type", protocol == 0x0800 ? "IPv4" : "unknown");
        field("hardware_length", "\n  Hardware Len: %d", hl);
        field("protocol_length", ", Protocol Len: %d", pl);
        field("opcode", ", Opcode: %d", opcode);
        print_name("opcode", dense_name(opcodes, opcode, "Unknown"));

        const uint8_t* p = a + 8;
        zelk_printf("\n  Sender Hardware Addr: ");
        print_hardware_address("sender_hardware", "sender_vendor", p, hl);
        zelk_printf("\n  Sender Protocol Addr: ");
        print_protocol_address("sender_protocol", p + hl, pl, protocol);
        zelk_printf("\n  Target Hardware Addr: ");
        print_hardware_address("target_hardware", "target_vendor", p + hl + pl, hl);
        zelk_printf("\n  Target Protocol Addr: ");
        print_protocol_address("target_protocol", p + 2 * hl + pl, pl, protocol);
        zelk_printf("\n");

        if ((hardware == 1 || hardware == 6) && hl != 6) {
            zelk_printf("  Error: Invalid length for Ethernet/IEEE 802.x networks\n");
            record_text("error", "invalid hardware length for Ethernet/IEEE 802.x networks");
            bump(counters.arp_error);
        }
        note_summary(opcode, protocol, hl, pl, p);
    }
    bump(counters.arp);
    return 0;
}
