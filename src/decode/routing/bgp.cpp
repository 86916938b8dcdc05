#include "decode/routing/bgp.h"

#include "decode/decoder.h"

namespace {

constexpr const char* message_types[] = {"Unknown", "Open", "Update", "Notification", "Keep-alive", "Route-refresh"};

}  // namespace

int decode_bgp(const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    zelk_printf("- BGP Header -\n  Marker: \"");
    print_text_bytes(h, 16);
    uint8_t type = get_u8(h + 18);
    zelk_printf("\"\n  Length: %u, Type: %u", get_be16(h + 16), type);
    print_name(dense_name(message_types, type, "Unknown"));
    zelk_printf("\n");
    bump(counters.bgp);
    return 0;
}
