#include "decode/routing/ospf.h"

#include "decode/decoder.h"
#include "decode/ip/ipv4.h"
#include "decode/routing/ospf_body.h"

namespace {

constexpr const char* packet_types[] = {
    nullptr, "Hello", "Database Description", "Link state request", "Link state update", "Link state acknowledgement",
};

constexpr const char* authentication_types[] = {
    "None",
    "Simple password authentication",
    "Cryptographic authentication/MD5",
};

// OSPF names its codes even without --verbose.
void print_code_name(decode_context& cx, const char* key, const char* name) {
    zelk_printf(cx.out, " (%s)", name);
    record_name(cx, key, name);
}

// The fields both versions share.
void print_common_fields(decode_context& cx, const uint8_t* h) {
    uint8_t type = get_u8(cx, h + 1);
    const char* name = dense_name(packet_types, type, "unknown");
    field(cx, "type", "  Type: %d", type);
    print_code_name(cx, "type", name);
    field(cx, "length", "\n  Length: %d", get_be16(cx, h + 2));
    field(cx, "router_id", "\n  Router ID: %s", ipv4_text(cx, h + 4));
    field(cx, "area_id", "\n  Area ID: %s", ipv4_text(cx, h + 8));
}

uint8_t print_version(decode_context& cx, const uint8_t* h) {
    layer(cx, "ospf", "- OSPF Header -\n");
    uint8_t version = get_u8(cx, h);
    field(cx, "version", "  Version: %d\n", version);
    return version;
}

// Version 3 (RFC 5340) ends its header with an instance ID where version 2
// has the authentication type. Its checksum covers an IPv6 pseudo-header,
// which this decoder is not given, so it is shown but not judged.
void print_version3_fields(decode_context& cx, const uint8_t* h) {
    print_common_fields(cx, h);
    need(cx, h + 12, 3);
    field(cx, "checksum", "\n  Checksum: 0x%04x", get_be16(cx, h + 12));
    field(cx, "instance_id", ", Instance ID: %d\n", get_u8(cx, h + 14));
    bump(cx.counters.ospfv3);
}

}  // namespace

int decode_ospf(decode_context& cx, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    uint8_t version = print_version(cx, h);
    if (version == 2) {
        print_common_fields(cx, h);
        field(cx, "checksum", "\n  Checksum: 0x%04x", get_be16(cx, h + 12));
        uint16_t authentication = get_be16(cx, h + 14);
        field(cx, "auth_type", "\n  Authentication Type: %d", authentication);
        print_code_name(cx, "auth_type", dense_name(authentication_types, authentication, "Reserved/Unknown"));
        zelk_printf(cx.out, "\n");
        bump(cx.counters.ospfv2);
        if (expanded(false)) decode_ospf_body(cx, frame, offset, 2);
    } else if (version == 3) {
        print_version3_fields(cx, h);
        if (expanded(false)) decode_ospf_body(cx, frame, offset, 3);
    }
    return 0;
}

int decode_ospfv3(decode_context& cx, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    if (print_version(cx, h) != 3) return 0;
    print_version3_fields(cx, h);
    if (expanded(false)) decode_ospf_body(cx, frame, offset, 3);
    return 0;
}
