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

int decode_cbt(const frame_lengths*, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    uint8_t first = get_u8(h);
    unsigned type = first & 0x0f;
    layer("cbt", "- CBT Header -");
    field("version", "\n  Version: %u", first >> 4);
    field("type", ", Type: %u", type);
    print_name("type", dense_name(packet_types, type, "unknown"));
    uint8_t address_length = get_u8(h + 1);
    uint16_t checksum = get_be16(h + 2);
    field("address_length", "\n  Address Length: %u", address_length);
    field("checksum", ", Checksum: 0x%02x\n", checksum);
    bump(counters.cbt);
    return 0;
}
