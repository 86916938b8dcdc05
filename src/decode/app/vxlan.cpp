#include "decode/app/vxlan.h"

#include "decode/decoder.h"
#include "decode/link/ethernet.h"

int decode_vxlan(const frame_lengths*, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    layer("vxlan", "- VXLAN Header -");
    need(h, 8);
    bump(counters.vxlan);
    uint8_t flags = get_u8(h);
    uint32_t vni = get_be32(h + 4) >> 8;
    field("flags", "\n  Flags: 0x%02x", flags);
    // I: the VNI is valid.
    if (verbose()) print_name("flags", flags & 0x08 ? "I" : "none");
    field("vni", ", VNI: %u", vni);
    if (expanded(settings.expand_all)) {
        field("reserved1", "\n  Reserved: 0x%06x", get_be32(h) & 0xffffff);
        field("reserved2", ", 0x%02x", get_u8(h + 7));
    }
    zelk_printf("\n");
    summary_note("VNI %u", vni);
    decode_inner_ethernet(h + 8);
    return 0;
}
