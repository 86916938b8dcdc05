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

int decode_rsvp(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    uint8_t first = get_u8(cx, h);
    layer(cx, "rsvp", "- RSVP Header -");
    field(cx, "version", "\n  Version: %u", first >> 4);
    field(cx, "flags", ", Flags: 0x%02x", first & 0x0f);
    uint8_t type = get_u8(cx, h + 1);
    field(cx, "type", "\n  Message Type: %u", type);
    print_name(cx, "type", find_name(message_types, type, "Unknown"));
    need(cx, h + 2, 3);
    field(cx, "checksum", "\n  Checksum: 0x%04x", get_be16(cx, h + 2));
    field(cx, "send_ttl", ", Send TTL: %u\n", get_u8(cx, h + 4));
    need(cx, h + 5, 3);
    field(cx, "reserved", "  Reserved: %u", get_u8(cx, h + 5));
    field(cx, "length", ", Length: %u\n", get_be16(cx, h + 6));
    bump(cx.counters.rsvp);
    return 0;
}
