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
void print_command(const uint8_t* h) {
    uint8_t command = get_u8(h);
    field("type", "\n  Command: %d", command);
    print_name("type", dense_name(rip_commands, command, "Unknown"));
}

void print_family_name(uint16_t family) { print_name("address_family", family == 2 ? "IP" : "unknown"); }

void decode_ripv1(const uint8_t* h) {
    layer("rip", "- RIPv1 Header -");
    print_command(h);
    uint16_t family = get_be16(h + 4);
    field("version", "\n  Version: %d", get_u8(h + 1));
    field("address_family", ", Address family identifier: %d", family);
    print_family_name(family);
    need(h + 8, 4);
    need(h + 20, 4);
    field("address", "\n  IP Address: %s", ipv4_text(h + 8));
    field("metric", ", metric: %d\n", static_cast<int>(get_be32(h + 20)));
    bump(counters.ripv1);
}

void decode_ripv2_authentication(const uint8_t* h) {
    layer("rip", "- RIPv2 Authentication Header -");
    print_command(h);
    need(h + 1, 3);
    field("version", "\n  Version: %d", get_u8(h + 1));
    field("unused", ", Unused: 0x%04x", get_be16(h + 2));
    uint16_t type = get_be16(h + 6);
    field("auth_type", "\n  Authentication type: %u", type);
    if (type == 2) {
        print_name("auth_type", "simple");
        zelk_printf("\n  Authentication: \"");
        print_text_bytes(h + 8, 16);
        record_text("password", reinterpret_cast<const char*>(h + 8), 16);
        zelk_printf("\"\n");
    }
    bump(counters.ripv2);
}

void decode_ripv2_route(const uint8_t* h) {
    layer("rip", "- RIPv2 Header -");
    print_command(h);
    need(h + 1, 3);
    field("version", "\n  Version: %d", get_u8(h + 1));
    field("routing_domain", ", Routing domain: %d\n", get_be16(h + 2));
    uint16_t family = get_be16(h + 4);
    field("address_family", "  Address family identifier: %d", family);
    print_family_name(family);
    field("route_tag", ", Route tag: %d\n", get_be16(h + 6));
    need(h + 8, 8);
    field("address", "  IP Address: %s", ipv4_text(h + 8));
    field("mask", ", Subnet mask: %s\n", ipv4_text(h + 12));
    need(h + 16, 8);
    field("next_hop", "  Next hop IP: %s", ipv4_text(h + 16));
    field("metric", ", Metric: %u\n", get_be32(h + 20));
    bump(counters.ripv2);
}

}  // namespace

int decode_rip(const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    uint8_t version = get_u8(h + 1);
    switch (version) {
        case 0:
            layer("rip", "- RIPv0 Header -");
            record_number("version", version);
            zelk_printf("\n  <This version is not supported/RFC 1058>");
            break;
        case 1: decode_ripv1(h); break;
        case 2:
            if (get_be16(h + 4) == authentication_family)
                decode_ripv2_authentication(h);
            else
                decode_ripv2_route(h);
            break;
        default:
            layer("rip", "- Unknown RIP Header -\n");
            record_number("version", version);
            break;
    }
    return 0;
}

int decode_ripng(const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    layer("ripng", "- RIPng Header -\n");
    uint8_t command = get_u8(h);
    field("type", "  Command: %d", command);
    print_name("type", dense_name(request_response, command, "Unknown"));
    field("version", "\n  Version: %d\n", get_u8(h + 1));
    bump(counters.ripng);
    return 0;
}

int decode_ipx_rip(const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    layer("ipx_rip", "\n- RIP Header -\n");
    uint16_t operation = get_be16(h);
    field("type", "  Type/Operation: %d", operation);
    print_name("type", dense_name(request_response, operation, "Unknown"));
    field("network", "\n  Network: %u", get_be32(h + 2));
    need(h + 6, 4);
    field("hops", "\n  Hops: %d", get_be16(h + 6));
    field("ticks", ", Metric of Ticks: %d\n", get_be16(h + 8));
    bump(counters.ipx_rip);
    return 0;
}
