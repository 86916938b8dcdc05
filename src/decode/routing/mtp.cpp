#include "decode/routing/mtp.h"

#include "decode/decoder.h"

namespace {

constexpr const char* packet_types[] = {"Data", "NAK", "Empty", "Join", "Quit", "Token", "isMember"};

}  // namespace

// Two layers: the bridge header that carries MTP over IP, then MTP's own.
int decode_mtp(const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    layer("mtp_bridge", "- MTP bridge protocol header -\n");
    need(h, 4);
    field("dst_port", "  Dst Port: %u", get_be16(h));
    field("src_port", ", Src Port: %u\n", get_be16(h + 2));
    need(h + 4, 4);
    field("length", "  Length: %u", get_be16(h + 4));
    field("checksum", ", Checksum: 0x%04x\n", get_be16(h + 6));
    layer("mtp", "- MTP header -\n");
    uint8_t type = get_u8(h + 9);
    field("version", "  Version: %u", get_u8(h + 8));
    field("type", ", Type: %u", type);
    print_name("type", dense_name(packet_types, type, "unknown"));
    need(h + 10, 2);
    field("type_modifier", "\n  Type modifier: %u", get_u8(h + 10));
    field("subchannel", ", Subchannel: %u\n", get_u8(h + 11));
    need(h + 12, 8);
    field("src_connection_id", "  Source connection identifier: 0x%08x", get_be32(h + 12));
    field("dst_connection_id", ", Destination connection identifier: 0x%08x\n", get_be32(h + 16));
    bump(counters.mtp);
    return 0;
}
