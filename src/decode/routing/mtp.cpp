#include "decode/routing/mtp.h"

#include "decode/decoder.h"

namespace {

constexpr const char* packet_types[] = {"Data", "NAK", "Empty", "Join", "Quit", "Token", "isMember"};

}  // namespace

// Two layers: the bridge header that carries MTP over IP, then MTP's own.
int decode_mtp(decode_context& cx, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    layer(cx, "mtp_bridge", "- MTP bridge protocol header -\n");
    need(cx, h, 4);
    field(cx, "dst_port", "  Dst Port: %u", get_be16(cx, h));
    field(cx, "src_port", ", Src Port: %u\n", get_be16(cx, h + 2));
    need(cx, h + 4, 4);
    field(cx, "length", "  Length: %u", get_be16(cx, h + 4));
    field(cx, "checksum", ", Checksum: 0x%04x\n", get_be16(cx, h + 6));
    layer(cx, "mtp", "- MTP header -\n");
    uint8_t type = get_u8(cx, h + 9);
    field(cx, "version", "  Version: %u", get_u8(cx, h + 8));
    field(cx, "type", ", Type: %u", type);
    print_name(cx, "type", dense_name(packet_types, type, "unknown"));
    need(cx, h + 10, 2);
    field(cx, "type_modifier", "\n  Type modifier: %u", get_u8(cx, h + 10));
    field(cx, "subchannel", ", Subchannel: %u\n", get_u8(cx, h + 11));
    need(cx, h + 12, 8);
    field(cx, "src_connection_id", "  Source connection identifier: 0x%08x", get_be32(cx, h + 12));
    field(cx, "dst_connection_id", ", Destination connection identifier: 0x%08x\n", get_be32(cx, h + 16));
    bump(cx.counters.mtp);
    return 0;
}
