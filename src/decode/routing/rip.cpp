#include "decode/routing/rip.h"

#include "decode/decoder.h"
#include "decode/ip/ipv4.h"

namespace {

constexpr const char* rip_commands[] = {
    "Unknown",       "Request",        "Response",          "Trace On",
    "Trace Off",     "Reserved",       "Triggered Request", "Triggered Response",
    "Triggered Ack", "Update Request", "Update Response",   "Update Ack",
};

// RIPng commands and IPX RIP operations share these names.
constexpr const char* request_response[] = {"Unknown", "Request", "Response"};

constexpr uint16_t authentication_family = 0xffff;

// The command names the message: recorded as its type.
void print_command(decode_context& cx, const uint8_t* h) {
    uint8_t command = get_u8(cx, h);
    field(cx, "type", "\n  Command: %d", command);
    print_name(cx, "type", dense_name(rip_commands, command, "Unknown"));
}

void print_family_name(decode_context& cx, uint16_t family) {
    print_name(cx, "address_family", family == 2 ? "IP" : "unknown");
}

void decode_ripv1(decode_context& cx, const uint8_t* h) {
    layer(cx, "rip", "- RIPv1 Header -");
    print_command(cx, h);
    uint16_t family = get_be16(cx, h + 4);
    field(cx, "version", "\n  Version: %d", get_u8(cx, h + 1));
    field(cx, "address_family", ", Address family identifier: %d", family);
    print_family_name(cx, family);
    need(cx, h + 8, 4);
    need(cx, h + 20, 4);
    field(cx, "address", "\n  IP Address: %s", ipv4_text(cx, h + 8));
    field(cx, "metric", ", metric: %d\n", static_cast<int>(get_be32(cx, h + 20)));
    bump(cx.counters.ripv1);
}

void decode_ripv2_authentication(decode_context& cx, const uint8_t* h) {
    layer(cx, "rip", "- RIPv2 Authentication Header -");
    print_command(cx, h);
    need(cx, h + 1, 3);
    field(cx, "version", "\n  Version: %d", get_u8(cx, h + 1));
    field(cx, "unused", ", Unused: 0x%04x", get_be16(cx, h + 2));
    uint16_t type = get_be16(cx, h + 6);
    field(cx, "auth_type", "\n  Authentication type: %u", type);
    if (type == 2) {
        print_name(cx, "auth_type", "simple");
        zelk_printf(cx.out, "\n  Authentication: \"");
        print_text_bytes(cx, h + 8, 16);
        record_text(cx, "password", reinterpret_cast<const char*>(h + 8), 16);
        zelk_printf(cx.out, "\"\n");
    }
    bump(cx.counters.ripv2);
}

void decode_ripv2_route(decode_context& cx, const uint8_t* h) {
    layer(cx, "rip", "- RIPv2 Header -");
    print_command(cx, h);
    need(cx, h + 1, 3);
    field(cx, "version", "\n  Version: %d", get_u8(cx, h + 1));
    field(cx, "routing_domain", ", Routing domain: %d\n", get_be16(cx, h + 2));
    uint16_t family = get_be16(cx, h + 4);
    field(cx, "address_family", "  Address family identifier: %d", family);
    print_family_name(cx, family);
    field(cx, "route_tag", ", Route tag: %d\n", get_be16(cx, h + 6));
    need(cx, h + 8, 8);
    field(cx, "address", "  IP Address: %s", ipv4_text(cx, h + 8));
    field(cx, "mask", ", Subnet mask: %s\n", ipv4_text(cx, h + 12));
    need(cx, h + 16, 8);
    field(cx, "next_hop", "  Next hop IP: %s", ipv4_text(cx, h + 16));
    field(cx, "metric", ", Metric: %u\n", get_be32(cx, h + 20));
    bump(cx.counters.ripv2);
}

}  // namespace

int decode_rip(decode_context& cx, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    uint8_t version = get_u8(cx, h + 1);
    switch (version) {
        case 0:
            layer(cx, "rip", "- RIPv0 Header -");
            record_number(cx, "version", version);
            zelk_printf(cx.out, "\n  <This version is not supported/RFC 1058>");
            break;
        case 1: decode_ripv1(cx, h); break;
        case 2:
            if (get_be16(cx, h + 4) == authentication_family)
                decode_ripv2_authentication(cx, h);
            else
                decode_ripv2_route(cx, h);
            break;
        default:
            layer(cx, "rip", "- Unknown RIP Header -\n");
            record_number(cx, "version", version);
            break;
    }
    return 0;
}

int decode_ripng(decode_context& cx, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    layer(cx, "ripng", "- RIPng Header -\n");
    uint8_t command = get_u8(cx, h);
    field(cx, "type", "  Command: %d", command);
    print_name(cx, "type", dense_name(request_response, command, "Unknown"));
    field(cx, "version", "\n  Version: %d\n", get_u8(cx, h + 1));
    bump(cx.counters.ripng);
    return 0;
}

int decode_ipx_rip(decode_context& cx, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    layer(cx, "ipx_rip", "\n- RIP Header -\n");
    uint16_t operation = get_be16(cx, h);
    field(cx, "type", "  Type/Operation: %d", operation);
    print_name(cx, "type", dense_name(request_response, operation, "Unknown"));
    field(cx, "network", "\n  Network: %u", get_be32(cx, h + 2));
    need(cx, h + 6, 4);
    field(cx, "hops", "\n  Hops: %d", get_be16(cx, h + 6));
    field(cx, "ticks", ", Metric of Ticks: %d\n", get_be16(cx, h + 8));
    bump(cx.counters.ipx_rip);
    return 0;
}
