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
    zelk_printf("- CBT Header -\n  Version: %u, Type: %u", first >> 4, type);
    print_name(dense_name(packet_types, type, "unknown"));
    zelk_printf("\n  Address Length: %u, Checksum: 0x%02x\n", get_u8(h + 1), get_be16(h + 2));
    bump(counters.cbt);
    return 0;
}
