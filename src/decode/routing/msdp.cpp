#include "decode/routing/msdp.h"

#include "decode/decoder.h"

namespace {

constexpr const char* message_types[] = {
    "Unknown", "IPv4 Source-Active", "SA-Request", "IPv4 Source-Active Response", "Keepalive", "Notification",
};

}  // namespace

int decode_msdp(decode_context& cx, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    uint8_t type = get_u8(cx, h);
    layer(cx, "msdp", "- MSDP Header -");
    field(cx, "type", "\n  Type: %u", type);
    print_name(cx, "type", dense_name(message_types, type, "Unknown"));
    field(cx, "length", "\n  Length: %u\n", get_be16(cx, h + 1));
    bump(cx.counters.msdp);
    return 0;
}
