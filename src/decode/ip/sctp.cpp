#include "decode/ip/sctp.h"

#include "decode/decoder.h"

int decode_sctp(decode_context& cx, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    layer(cx, "sctp", "- SCTP Header -");
    need(cx, h, 12);
    field(cx, "src_port", "\n  Src Port: %u", get_be16(cx, h));
    field(cx, "dst_port", ", Dst Port: %u\n", get_be16(cx, h + 2));
    // The CRC32c is not verified and the chunks are not decoded.
    field(cx, "verification_tag", "  Verification Tag: 0x%08x", get_be32(cx, h + 4));
    field(cx, "checksum", ", Checksum: 0x%08x\n", get_be32(cx, h + 8));
    bump(cx.counters.sctp);
    return 0;
}
