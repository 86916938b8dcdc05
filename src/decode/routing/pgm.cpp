#include "decode/routing/pgm.h"

#include "decode/decoder.h"

namespace {

// RFC 3208 packet types; the text shows only the number.
constexpr code_name packet_types[] = {
    {0x00, "SPM"}, {0x01, "POLL"}, {0x02, "POLR"}, {0x04, "ODATA"}, {0x05, "RDATA"},
    {0x08, "NAK"}, {0x09, "NNAK"}, {0x0a, "NCF"},  {0x0c, "SPMR"},
};

}  // namespace

int decode_pgm(decode_context& cx, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    need(cx, h, 4);
    layer(cx, "pgm", "- PGM Header -");
    field(cx, "src_port", "\n  Src Port: %u", get_be16(cx, h));
    field(cx, "dst_port", ", Dst Port: %u\n", get_be16(cx, h + 2));
    need(cx, h + 4, 4);
    uint8_t type = get_u8(cx, h + 4);
    field(cx, "type", "  Type: %u", type);
    record_name(cx, "type", find_name(packet_types, type, "unknown"));
    field(cx, "options", ", Options: %u", get_u8(cx, h + 5));
    field(cx, "checksum", ", Checksum: 0x%04x\n", get_be16(cx, h + 6));
    const uint8_t* id = h + 8;
    need(cx, id, 6);
    zelk_printf(cx.out, "  Global Source ID: 0x%02x 0x%02x 0x%02x 0x%02x 0x%02x 0x%02x\n", id[0], id[1], id[2], id[3],
                id[4], id[5]);
    record_hex(cx, "global_source_id", id, 6);
    field(cx, "tsdu_length", "  TSDU Length: %u\n", get_be16(cx, h + 14));
    bump(cx.counters.pgm);
    return 0;
}
