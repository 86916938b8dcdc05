#include "decode/ip/etherip.h"

#include "decode/decoder.h"
#include "decode/link/ethernet.h"

int decode_etherip(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    uint8_t first = get_u8(cx, h);
    uint8_t second = get_u8(cx, h + 1);
    layer(cx, "etherip", "- EtherIP Header -");
    field(cx, "version", "\n  Version: %u, ", first & 0x0fu);
    field(cx, "reserved", "  Reserved: %u", second * 16u + (first >> 4));
    bump(cx.counters.etherip);
    // The tunnelled frame is decoded as a frame of its own.
    decode_inner_ethernet(cx, h + 2);
    return 0;
}
