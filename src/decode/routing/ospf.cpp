#include "decode/routing/ospf.h"

#include "decode/decoder.h"
#include "decode/routing/routing.h"

namespace {

constexpr const char* packet_types[] = {
    nullptr, "Hello", "Database Description", "Link state request", "Link state update", "Link state acknowledgement",
};

constexpr const char* authentication_types[] = {
    "None",
    "Simple password authentication",
    "Cryptographic authentication/MD5",
};

// The fields both versions share; OSPF names its codes even without --verbose.
void print_common_fields(const uint8_t* h) {
    uint8_t type = get_u8(h + 1);
    zelk_printf("  Type: %d (%s)", type, dense_name(packet_types, type, "unknown"));
    zelk_printf("\n  Length: %d", get_be16(h + 2));
    zelk_printf("\n  Router ID: %s", dotted_quad(h + 4).text);
    zelk_printf("\n  Area ID: %s", dotted_quad(h + 8).text);
}

}  // namespace

int decode_ospf(const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    zelk_printf("- OSPF Header -\n");
    uint8_t version = get_u8(h);
    zelk_printf("  Version: %d\n", version);
    if (version == 2) {
        print_common_fields(h);
        zelk_printf("\n  Checksum: 0x%04x", get_be16(h + 12));
        uint16_t authentication = get_be16(h + 14);
        zelk_printf("\n  Authentication Type: %d (%s)\n", authentication,
                    dense_name(authentication_types, authentication, "Reserved/Unknown"));
        bump(counters.ospfv2);
    } else if (version == 3) {
        print_common_fields(h);
        zelk_printf("\n  Checksum: 0x%04x, Instance ID: %d\n", get_be16(h + 12), get_u8(h + 14));
        bump(counters.ospfv3);
    }
    return 0;
}
