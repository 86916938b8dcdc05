#include "decode/ip/sctp.h"

#include "decode/decoder.h"

int decode_sctp(const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    layer("sctp", "- SCTP Header -");
    need(h, 12);
    field("src_port", "\n  Src Port: %u", get_be16(h));
    field("dst_port", ", Dst Port: %u\n", get_be16(h + 2));
    // The CRC32c is not verified and the chunks are not decoded.
    field("verification_tag", "  Verification Tag: 0x%08x", get_be32(h + 4));
    field("checksum", ", Checksum: 0x%08x\n", get_be32(h + 8));
    bump(counters.sctp);
    return 0;
}
