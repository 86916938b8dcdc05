#include "decode/routing/irtp.h"

#include "decode/decoder.h"
#include "decode/routing/routing.h"

namespace {

constexpr const char* packet_types[] = {"Synch", "Synch Ack", "Data", "Data Ack", "Port Nak"};

}  // namespace

int decode_irtp(const frame_lengths*, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    uint8_t type = get_u8(h);
    zelk_printf("- IRTP Header -\n  Type: %d", type);
    print_name(dense_name(packet_types, type, "unknown"));
    zelk_printf("\n  Port: %d, Sequence number: %u", get_u8(h + 1), get_be16(h + 2));
    zelk_printf("\n  Length: %u, Checksum: 0x%04x", get_be16(h + 4), get_be16(h + 6));
    // The checksum covers the whole message, header and data.
    print_message_checksum_verdict(h, 6, counters.irtp_bad);
    zelk_printf("\n");
    bump(counters.irtp);
    return 0;
}
