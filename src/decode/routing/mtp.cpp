#include "decode/routing/mtp.h"

#include "decode/decoder.h"

namespace {

constexpr const char* packet_types[] = {"Data", "NAK", "Empty", "Join", "Quit", "Token", "isMember"};

}  // namespace

int decode_mtp(const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    zelk_printf("- MTP bridge protocol header -\n");
    zelk_printf("  Dst Port: %u, Src Port: %u\n", get_be16(h), get_be16(h + 2));
    zelk_printf("  Length: %u, Checksum: 0x%04x\n", get_be16(h + 4), get_be16(h + 6));
    zelk_printf("- MTP header -\n");
    uint8_t type = get_u8(h + 9);
    zelk_printf("  Version: %u, Type: %u", get_u8(h + 8), type);
    print_name(dense_name(packet_types, type, "unknown"));
    zelk_printf("\n  Type modifier: %u, Subchannel: %u\n", get_u8(h + 10), get_u8(h + 11));
    zelk_printf("  Source connection identifier: 0x%08x, Destination connection identifier: 0x%08x\n", get_be32(h + 12),
                get_be32(h + 16));
    bump(counters.mtp);
    return 0;
}
