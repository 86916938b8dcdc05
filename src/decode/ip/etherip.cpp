#include "decode/ip/etherip.h"

#include "decode/decoder.h"
#include "decode/link/ethernet.h"

int decode_etherip(const frame_lengths*, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    uint8_t first = get_u8(h);
    uint8_t second = get_u8(h + 1);
    layer("etherip", "- EtherIP Header -");
    field("version", "\n  Version: %u, ", first & 0x0fu);
    field("reserved", "  Reserved: %u", second * 16u + (first >> 4));
    bump(counters.etherip);
    // The tunnelled frame is decoded as a frame of its own.
    decode_inner_ethernet(h + 2);
    return 0;
}
