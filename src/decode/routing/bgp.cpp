#include "decode/routing/bgp.h"

#include "decode/decoder.h"

namespace {

constexpr const char* message_types[] = {"Unknown", "Open", "Update", "Notification", "Keep-alive", "Route-refresh"};

}  // namespace

int decode_bgp(decode_context& cx, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    layer(cx, "bgp", "- BGP Header -");
    zelk_printf(cx.out, "\n  Marker: \"");
    print_text_bytes(cx, h, 16);
    record_hex(cx, "marker", h, 16);
    uint8_t type = get_u8(cx, h + 18);
    uint16_t length = get_be16(cx, h + 16);
    field(cx, "length", "\"\n  Length: %u", length);
    field(cx, "type", ", Type: %u", type);
    print_name(cx, "type", dense_name(message_types, type, "Unknown"));
    zelk_printf(cx.out, "\n");
    bump(cx.counters.bgp);
    return 0;
}
