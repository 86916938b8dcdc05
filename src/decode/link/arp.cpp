#include "decode/link/arp.h"

#include "decode/decoder.h"
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
void print_hardware_address(const uint8_t* p, unsigned length) {
    if (length == 0) {
        zelk_printf("(None given, because hardware length is zero)");
        return;
    }
    need(p, length);
    for (unsigned i = 0; i < length; ++i) zelk_printf(i + 1 < length ? "%2.2x:" : "%2.2x", p[i]);
    if (settings.verbose && length >= 6) print_mac_vendor(p);
}

void print_protocol_address(const uint8_t* p, unsigned length, uint16_t protocol) {
    if (length == 0) {
        zelk_printf("(None given, because protocol length is zero)");
    } else if (protocol == 0x0800 && length == 4) {
        need(p, 4);
        zelk_printf("%u.%u.%u.%u", p[0], p[1], p[2], p[3]);
    } else {
        zelk_printf("<Not implemented @ the moment>");
    }
}

}  // namespace

int decode_arp(const uint8_t* frame, unsigned offset) {
    const uint8_t* a = header_at(frame, offset);
    zelk_printf("\n- ARP Header -\n");
    need(a, 8);
    uint16_t hardware = get_be16(a);
    uint16_t protocol = get_be16(a + 2);
    unsigned hl = a[4], pl = a[5];
    uint16_t opcode = get_be16(a + 6);

    if (expanded(settings.expand_arp)) {
        zelk_printf("  Hardware Type: %d", hardware);
        print_name(dense_name(hardware_types, hardware, "Unknown"));
        zelk_printf("\n  Protocol Type: %d", protocol);
        print_name(protocol == 0x0800 ? "IPv4" : "unknown");
        zelk_printf("\n  Hardware Len: %d, Protocol Len: %d, Opcode: %d", hl, pl, opcode);
        print_name(dense_name(opcodes, opcode, "Unknown"));

        const uint8_t* p = a + 8;
        zelk_printf("\n  Sender Hardware Addr: ");
        print_hardware_address(p, hl);
        zelk_printf("\n  Sender Protocol Addr: ");
        print_protocol_address(p + hl, pl, protocol);
        zelk_printf("\n  Target Hardware Addr: ");
        print_hardware_address(p + hl + pl, hl);
        zelk_printf("\n  Target Protocol Addr: ");
        print_protocol_address(p + 2 * hl + pl, pl, protocol);
        zelk_printf("\n");

        if ((hardware == 1 || hardware == 6) && hl != 6) {
            zelk_printf("  Error: Invalid length for Ethernet/IEEE 802.x networks\n");
            bump(counters.arp_error);
        }
    }
    bump(counters.arp);
    return 0;
}
