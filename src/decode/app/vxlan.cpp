#include "decode/app/vxlan.h"

#include "decode/decoder.h"
#include "decode/link/ethernet.h"

int decode_vxlan(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    layer(cx, "vxlan", "- VXLAN Header -");
    need(cx, h, 8);
    bump(cx.counters.vxlan);
    uint8_t flags = get_u8(cx, h);
    uint32_t vni = get_be32(cx, h + 4) >> 8;
    field(cx, "flags", "\n  Flags: 0x%02x", flags);
    // I: the VNI is valid.
    if (verbose()) print_name(cx, "flags", flags & 0x08 ? "I" : "none");
    field(cx, "vni", ", VNI: %u", vni);
    if (expanded(settings.expand_all)) {
        field(cx, "reserved1", "\n  Reserved: 0x%06x", get_be32(cx, h) & 0xffffff);
        field(cx, "reserved2", ", 0x%02x", get_u8(cx, h + 7));
    }
    zelk_printf(cx.out, "\n");
    summary_note(cx, "VNI %u", vni);
    decode_inner_ethernet(cx, h + 8);
    return 0;
}
