#include "decode/routing/bgp.h"

#include "decode/decoder.h"

namespace {

constexpr const char* message_types[] = {"Unknown", "Open", "Update", "Notification", "Keep-alive", "Route-refresh"};

}  // namespace

int decode_bgp(const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    layer("bgp", "- BGP Header -");
    zelk_printf("\n  Marker: \"");
    print_text_bytes(h, 16);
    record_hex("marker", h, 16);
    uint8_t type = get_u8(h + 18);
    uint16_t length = get_be16(h + 16);
    field("length", "\"\n  Length: %u", length);
    field("type", ", Type: %u", type);
    print_name("type", dense_name(message_types, type, "Unknown"));
    zelk_printf("\n");
    bump(counters.bgp);
    return 0;
}
