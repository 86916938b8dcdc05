#include "decode/routing/irtp.h"

#include "decode/decoder.h"
#include "decode/routing/routing.h"

namespace {

constexpr const char* packet_types[] = {"Synch", "Synch Ack", "Data", "Data Ack", "Port Nak"};

}  // namespace

int decode_irtp(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    uint8_t type = get_u8(cx, h);
    layer(cx, "irtp", "- IRTP Header -");
    field(cx, "type", "\n  Type: %d", type);
    print_name(cx, "type", dense_name(packet_types, type, "unknown"));
    need(cx, h + 1, 3);
    field(cx, "port", "\n  Port: %d", get_u8(cx, h + 1));
    field(cx, "seq", ", Sequence number: %u", get_be16(cx, h + 2));
    need(cx, h + 4, 4);
    field(cx, "length", "\n  Length: %u", get_be16(cx, h + 4));
    field(cx, "checksum", ", Checksum: 0x%04x", get_be16(cx, h + 6));
    // The checksum covers the whole message, header and data.
    print_message_checksum_verdict(cx, h, 6, cx.counters.irtp_bad);
    zelk_printf(cx.out, "\n");
    bump(cx.counters.irtp);
    return 0;
}
