#include "decode/routing/irtp.h"

#include "decode/decoder.h"
#include "decode/routing/routing.h"

namespace {

constexpr const char* packet_types[] = {"Synch", "Synch Ack", "Data", "Data Ack", "Port Nak"};

}  // namespace

int decode_irtp(const frame_lengths*, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    uint8_t type = get_u8(h);
    layer("irtp", "- IRTP Header -");
    field("type", "\n  Type: %d", type);
    print_name("type", dense_name(packet_types, type, "unknown"));
    need(h + 1, 3);
    field("port", "\n  Port: %d", get_u8(h + 1));
    field("seq", ", Sequence number: %u", get_be16(h + 2));
    need(h + 4, 4);
    field("length", "\n  Length: %u", get_be16(h + 4));
    field("checksum", ", Checksum: 0x%04x", get_be16(h + 6));
    // The checksum covers the whole message, header and data.
    print_message_checksum_verdict(h, 6, counters.irtp_bad);
    zelk_printf("\n");
    bump(counters.irtp);
    return 0;
}
