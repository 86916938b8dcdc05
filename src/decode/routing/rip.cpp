#include "decode/routing/rip.h"

#include "decode/decoder.h"
#include "decode/routing/routing.h"

namespace {

constexpr const char* rip_commands[] = {
    "Unknown",       "Request",        "Response",          "Trace On",
    "Trace Off",     "Reserved",       "Triggered Request", "Triggered Response",
    "Triggered Ack", "Update Request", "Update Response",   "Update Ack",
};

// RIPng commands and IPX RIP operations share these names.
constexpr const char* request_response[] = {"Unknown", "Request", "Response"};

constexpr uint16_t authentication_family = 0xffff;

void print_command(const uint8_t* h) {
    uint8_t command = get_u8(h);
    zelk_printf("  Command: %d", command);
    print_name(dense_name(rip_commands, command, "Unknown"));
}

void print_family_name(uint16_t family) {
    if (settings.verbose) zelk_printf(family == 2 ? " (IP)" : " (unknown)");
}

void decode_ripv1(const uint8_t* h) {
    zelk_printf("- RIPv1 Header -\n");
    print_command(h);
    uint16_t family = get_be16(h + 4);
    zelk_printf("\n  Version: %d, Address family identifier: %d", get_u8(h + 1), family);
    print_family_name(family);
    zelk_printf("\n  IP Address: %s, metric: %d\n", dotted_quad(h + 8).text, static_cast<int>(get_be32(h + 20)));
    bump(counters.ripv1);
}

void decode_ripv2_authentication(const uint8_t* h) {
    zelk_printf("- RIPv2 Authentication Header -\n");
    print_command(h);
    zelk_printf("\n  Version: %d, Unused: 0x%04x", get_u8(h + 1), get_be16(h + 2));
    uint16_t type = get_be16(h + 6);
    zelk_printf("\n  Authentication type: %u", type);
    if (type == 2) {
        if (settings.verbose) zelk_printf(" (simple)");
        zelk_printf("\n  Authentication: \"");
        print_text_bytes(h + 8, 16);
        zelk_printf("\"\n");
    }
    bump(counters.ripv2);
}

void decode_ripv2_route(const uint8_t* h) {
    zelk_printf("- RIPv2 Header -\n");
    print_command(h);
    zelk_printf("\n  Version: %d, Routing domain: %d\n", get_u8(h + 1), get_be16(h + 2));
    uint16_t family = get_be16(h + 4);
    zelk_printf("  Address family identifier: %d", family);
    print_family_name(family);
    zelk_printf(", Route tag: %d\n", get_be16(h + 6));
    zelk_printf("  IP Address: %s, Subnet mask: %s\n", dotted_quad(h + 8).text, dotted_quad(h + 12).text);
    zelk_printf("  Next hop IP: %s, Metric: %u\n", dotted_quad(h + 16).text, get_be32(h + 20));
    bump(counters.ripv2);
}

}  // namespace

int decode_rip(const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    switch (get_u8(h + 1)) {
        case 0: zelk_printf("- RIPv0 Header -\n  <This version is not supported/RFC 1058>"); break;
        case 1: decode_ripv1(h); break;
        case 2:
            if (get_be16(h + 4) == authentication_family)
                decode_ripv2_authentication(h);
            else
                decode_ripv2_route(h);
            break;
        default: zelk_printf("- Unknown RIP Header -\n"); break;
    }
    return 0;
}

int decode_ripng(const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    zelk_printf("- RIPng Header -\n");
    uint8_t command = get_u8(h);
    zelk_printf("  Command: %d", command);
    print_name(dense_name(request_response, command, "Unknown"));
    zelk_printf("\n  Version: %d\n", get_u8(h + 1));
    bump(counters.ripng);
    return 0;
}

int decode_ipx_rip(const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    zelk_printf("\n- RIP Header -\n");
    uint16_t operation = get_be16(h);
    zelk_printf("  Type/Operation: %d", operation);
    print_name(dense_name(request_response, operation, "Unknown"));
    zelk_printf("\n  Network: %u", get_be32(h + 2));
    zelk_printf("\n  Hops: %d, Metric of Ticks: %d\n", get_be16(h + 6), get_be16(h + 8));
    bump(counters.ipx_rip);
    return 0;
}
