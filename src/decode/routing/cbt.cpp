#include "decode/routing/cbt.h"

#include "decode/decoder.h"

namespace {

constexpr const char* packet_types[] = {
    "Hello",
    "Join request",
    "Join ack",
    "Quit notification",
    "Echo request",
    "Echo reply",
    "Flush tree",
    "Bootstrap message",
    "Candidate Core Advertisement",
};

}  // namespace

int decode_cbt(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    uint8_t first = get_u8(cx, h);
    unsigned type = first & 0x0f;
    layer(cx, "cbt", "- CBT Header -");
    field(cx, "version", "\n  Version: %u", first >> 4);
    field(cx, "type", ", Type: %u", type);
    print_name(cx, "type", dense_name(packet_types, type, "unknown"));
    uint8_t address_length = get_u8(cx, h + 1);
    uint16_t checksum = get_be16(cx, h + 2);
    field(cx, "address_length", "\n  Address Length: %u", address_length);
    field(cx, "checksum", ", Checksum: 0x%02x\n", checksum);
    bump(cx.counters.cbt);
    return 0;
}
