#include "decode/routing/msdp.h"

#include "decode/decoder.h"

namespace {

constexpr const char* message_types[] = {
    "Unknown", "IPv4 Source-Active", "SA-Request", "IPv4 Source-Active Response", "Keepalive", "Notification",
};

}  // namespace

int decode_msdp(const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    uint8_t type = get_u8(h);
    layer("msdp", "- MSDP Header -");
    field("type", "\n  Type: %u", type);
    print_name("type", dense_name(message_types, type, "Unknown"));
    field("length", "\n  Length: %u\n", get_be16(h + 1));
    bump(counters.msdp);
    return 0;
}
