#include "decode/routing/ospf.h"

#include "decode/decoder.h"
#include "decode/ip/ipv4.h"

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
void print_code_name(const char* key, const char* name) {
    zelk_printf(" (%s)", name);
    record_name(key, name);
}

// The fields both versions share.
void print_common_fields(const uint8_t* h) {
    uint8_t type = get_u8(h + 1);
    const char* name = dense_name(packet_types, type, "unknown");
    field("type", "  Type: %d", type);
    print_code_name("type", name);
    field("length", "\n  Length: %d", get_be16(h + 2));
    field("router_id", "\n  Router ID: %s", ipv4_text(h + 4));
    field("area_id", "\n  Area ID: %s", ipv4_text(h + 8));
}

uint8_t print_version(const uint8_t* h) {
    layer("ospf", "- OSPF Header -\n");
    uint8_t version = get_u8(h);
    field("version", "  Version: %d\n", version);
    return version;
}

// Version 3 (RFC 5340) ends its header with an instance ID where version 2
// has the authentication type. Its checksum covers an IPv6 pseudo-header,
// which this decoder is not given, so it is shown but not judged.
void print_version3_fields(const uint8_t* h) {
    print_common_fields(h);
    need(h + 12, 3);
    field("checksum", "\n  Checksum: 0x%04x", get_be16(h + 12));
    field("instance_id", ", Instance ID: %d\n", get_u8(h + 14));
    bump(counters.ospfv3);
}

}  // namespace

int decode_ospf(const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    uint8_t version = print_version(h);
    if (version == 2) {
        print_common_fields(h);
        field("checksum", "\n  Checksum: 0x%04x", get_be16(h + 12));
        uint16_t authentication = get_be16(h + 14);
        field("auth_type", "\n  Authentication Type: %d", authentication);
        print_code_name("auth_type", dense_name(authentication_types, authentication, "Reserved/Unknown"));
        zelk_printf("\n");
        bump(counters.ospfv2);
    } else if (version == 3) {
        print_version3_fields(h);
    }
    return 0;
}

int decode_ospfv3(const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    if (print_version(h) == 3) print_version3_fields(h);
    return 0;
}
