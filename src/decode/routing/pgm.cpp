#include "decode/routing/pgm.h"

#include "decode/decoder.h"

namespace {

// RFC 3208 packet types; the text shows only the number.
constexpr code_name packet_types[] = {
    {0x00, "SPM"}, {0x01, "POLL"}, {0x02, "POLR"}, {0x04, "ODATA"}, {0x05, "RDATA"},
    {0x08, "NAK"}, {0x09, "NNAK"}, {0x0a, "NCF"},  {0x0c, "SPMR"},
};

}  // namespace

int decode_pgm(const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    need(h, 4);
    layer("pgm", "- PGM Header -");
    field("src_port", "\n  Src Port: %u", get_be16(h));
    field("dst_port", ", Dst Port: %u\n", get_be16(h + 2));
    need(h + 4, 4);
    uint8_t type = get_u8(h + 4);
    field("type", "  Type: %u", type);
    record_name("type", find_name(packet_types, type, "unknown"));
    field("options", ", Options: %u", get_u8(h + 5));
    field("checksum", ", Checksum: 0x%04x\n", get_be16(h + 6));
    const uint8_t* id = h + 8;
    need(id, 6);
    zelk_printf("  Global Source ID: 0x%02x 0x%02x 0x%02x 0x%02x 0x%02x 0x%02x\n", id[0], id[1], id[2], id[3], id[4],
                id[5]);
    record_hex("global_source_id", id, 6);
    field("tsdu_length", "  TSDU Length: %u\n", get_be16(h + 14));
    bump(counters.pgm);
    return 0;
}
