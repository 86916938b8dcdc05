#include "decode/routing/igrp.h"

#include "decode/decoder.h"
#include "decode/routing/routing.h"

namespace {

constexpr const char* igrp_opcodes[] = {"Unknown", "Update", "Request"};
constexpr const char* eigrp_opcodes[] = {"Unknown", "Update", "Request", "Query", "Reply", "Hello", "IPX SAP"};

constexpr uint32_t init_bit = 0x1;
constexpr uint32_t conditional_receive_bit = 0x2;

}  // namespace

int decode_igrp(const frame_lengths*, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    zelk_printf("- IGRP Header -\n");
    uint8_t first = get_u8(h);
    zelk_printf("  Version: %d, Opcode: %d", first >> 4, first & 0x0f);
    print_name(dense_name(igrp_opcodes, first & 0x0f, "Unknown"));
    zelk_printf("\n  Edition: %d\n", get_u8(h + 1));
    zelk_printf("  Autosys: %d, Interior: %d\n", get_be16(h + 2), get_be16(h + 4));
    zelk_printf("  System: %d, Exterior: %d", get_be16(h + 6), get_be16(h + 8));
    zelk_printf("\n  Checksum: 0x%04x", get_be16(h + 10));
    print_message_checksum_verdict(h, 10, counters.igrp_bad);
    zelk_printf("\n");
    bump(counters.igrp);
    return 0;
}

int decode_eigrp(const frame_lengths*, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    zelk_printf("- EIGRP Header -\n");
    uint8_t opcode = get_u8(h + 1);
    zelk_printf("  Version: %d, Opcode: %d", get_u8(h), opcode);
    print_name(dense_name(eigrp_opcodes, opcode, "Unknown"));
    zelk_printf("\n  Checksum: 0x%04x", get_be16(h + 2));
    print_message_checksum_verdict(h, 2, counters.eigrp_bad);
    uint32_t flags = get_be32(h + 4);
    zelk_printf("\n  Flags: 0x%08x", flags);
    if (flags & init_bit) print_name("Init bit");
    if (flags & conditional_receive_bit) print_name("Conditional receive bit");
    zelk_printf("\n  Sequence Number: %u, Ack Seq. Number: %u\n", get_be32(h + 8), get_be32(h + 12));
    zelk_printf("  Autosys: %u\n", get_be32(h + 16));
    bump(counters.eigrp);
    return 0;
}
