#include "decode/routing/pgm.h"

#include "decode/decoder.h"

int decode_pgm(const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    zelk_printf("- PGM Header -\n  Src Port: %u, Dst Port: %u\n", get_be16(h), get_be16(h + 2));
    zelk_printf("  Type: %u, Options: %u, Checksum: 0x%04x\n", get_u8(h + 4), get_u8(h + 5), get_be16(h + 6));
    const uint8_t* id = h + 8;
    need(id, 6);
    zelk_printf("  Global Source ID: 0x%02x 0x%02x 0x%02x 0x%02x 0x%02x 0x%02x\n", id[0], id[1], id[2], id[3], id[4],
                id[5]);
    zelk_printf("  TSDU Length: %u\n", get_be16(h + 14));
    bump(counters.pgm);
    return 0;
}
