#include "decode/routing/rsvp.h"

#include "decode/decoder.h"

namespace {

// Codes without a row (among them 11, 14, 16 to 19 and 21 to 24) read "Unknown".
constexpr code_name message_types[] = {
    {1, "Path"},
    {2, "Resv"},
    {3, "PathErr"},
    {4, "ResvErr"},
    {5, "PathTear"},
    {6, "ResvTear"},
    {7, "ResvConf"},
    {8, "Diagnostic Request"},
    {9, "Diagnostic Reply"},
    {10, "ResvTearConfirm"},
    {12, "Bundle"},
    {13, "ACK"},
    {15, "Srefresh"},
    {20, "Hello"},
    {25, "Integrity Challenge"},
    {26, "Integrity Response"},
};

}  // namespace

int decode_rsvp(const frame_lengths*, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    uint8_t first = get_u8(h);
    zelk_printf("- RSVP Header -\n  Version: %u, Flags: 0x%02x", first >> 4, first & 0x0f);
    uint8_t type = get_u8(h + 1);
    zelk_printf("\n  Message Type: %u", type);
    print_name(find_name(message_types, type, "Unknown"));
    zelk_printf("\n  Checksum: 0x%04x, Send TTL: %u\n", get_be16(h + 2), get_u8(h + 4));
    zelk_printf("  Reserved: %u, Length: %u\n", get_u8(h + 5), get_be16(h + 6));
    bump(counters.rsvp);
    return 0;
}
