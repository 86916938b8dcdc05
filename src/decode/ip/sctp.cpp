#include "decode/ip/sctp.h"

#include "decode/decoder.h"

int decode_sctp(const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    zelk_printf("- SCTP Header -");
    need(h, 12);
    zelk_printf("\n  Src Port: %u, Dst Port: %u\n", get_be16(h), get_be16(h + 2));
    // The CRC32c is not verified and the chunks are not decoded.
    zelk_printf("  Verification Tag: 0x%08x, Checksum: 0x%08x\n", get_be32(h + 4), get_be32(h + 8));
    bump(counters.sctp);
    return 0;
}
