#include "decode/routing/rsvp.h"

#include "decode/decoder.h"

namespace {

constexpr const char* message_types[] = {
    "Unknown",
    "Path",
    "Resv",
    "PathErr",
    "ResvErr",
    "PathTear",
    "ResvTear",
    "ResvConf",
    "Diagnostic Request",
    "Diagnostic Reply",
    "ResvTearConfirm",
    "Unknown",
    "Bundle",
    "ACK",
    "Unknown",
    "Srefresh",
    "Unknown",
    "Unknown",
    "Unknown",
    "Unknown",
    "Hello",
    "Unknown",
    "Unknown",
    "Unknown",
    "Unknown",
    "Integrity Challenge",
    "Integrity Response",
};
static_assert(sizeof message_types / sizeof message_types[0] == 27);

}  // namespace

int decode_rsvp(const frame_lengths*, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    uint8_t first = get_u8(h);
    zelk_printf("- RSVP Header -\n  Version: %u, Flags: 0x%02x", first >> 4, first & 0x0f);
    uint8_t type = get_u8(h + 1);
    zelk_printf("\n  Message Type: %u", type);
    print_name(dense_name(message_types, type, "Unknown"));
    zelk_printf("\n  Checksum: 0x%04x, Send TTL: %u\n", get_be16(h + 2), get_u8(h + 4));
    zelk_printf("  Reserved: %u, Length: %u\n", get_u8(h + 5), get_be16(h + 6));
    bump(counters.rsvp);
    return 0;
}
