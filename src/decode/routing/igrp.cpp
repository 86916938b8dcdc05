#include "decode/routing/igrp.h"

#include "decode/decoder.h"
#include "decode/routing/routing.h"

namespace {

constexpr const char* igrp_opcodes[] = {"Unknown", "Update", "Request"};
constexpr const char* eigrp_opcodes[] = {"Unknown", "Update", "Request", "Query", "Reply", "Hello", "IPX SAP"};

constexpr uint32_t init_bit = 0x1;
constexpr uint32_t conditional_receive_bit = 0x2;

void print_flag_name(decode_context& cx, const char* name) {
    print_name(cx, name);
    list_text(cx, "flags_name", name);
}

}  // namespace

// The opcode names the message: recorded as its type.
int decode_igrp(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    layer(cx, "igrp", "- IGRP Header -\n");
    uint8_t first = get_u8(cx, h);
    field(cx, "version", "  Version: %d", first >> 4);
    field(cx, "type", ", Opcode: %d", first & 0x0f);
    print_name(cx, "type", dense_name(igrp_opcodes, first & 0x0f, "Unknown"));
    field(cx, "edition", "\n  Edition: %d\n", get_u8(cx, h + 1));
    need(cx, h + 2, 4);
    field(cx, "autonomous_system", "  Autosys: %d", get_be16(cx, h + 2));
    field(cx, "interior_routes", ", Interior: %d\n", get_be16(cx, h + 4));
    need(cx, h + 6, 4);
    field(cx, "system_routes", "  System: %d", get_be16(cx, h + 6));
    field(cx, "exterior_routes", ", Exterior: %d", get_be16(cx, h + 8));
    field(cx, "checksum", "\n  Checksum: 0x%04x", get_be16(cx, h + 10));
    print_message_checksum_verdict(cx, h, 10, cx.counters.igrp_bad);
    zelk_printf(cx.out, "\n");
    bump(cx.counters.igrp);
    return 0;
}

int decode_eigrp(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    layer(cx, "eigrp", "- EIGRP Header -\n");
    need(cx, h, 2);
    uint8_t opcode = get_u8(cx, h + 1);
    field(cx, "version", "  Version: %d", get_u8(cx, h));
    field(cx, "type", ", Opcode: %d", opcode);
    print_name(cx, "type", dense_name(eigrp_opcodes, opcode, "Unknown"));
    field(cx, "checksum", "\n  Checksum: 0x%04x", get_be16(cx, h + 2));
    print_message_checksum_verdict(cx, h, 2, cx.counters.eigrp_bad);
    uint32_t flags = get_be32(cx, h + 4);
    field(cx, "flags", "\n  Flags: 0x%08x", flags);
    if (flags & init_bit) print_flag_name(cx, "Init bit");
    if (flags & conditional_receive_bit) print_flag_name(cx, "Conditional receive bit");
    need(cx, h + 8, 8);
    field(cx, "seq", "\n  Sequence Number: %u", get_be32(cx, h + 8));
    field(cx, "ack", ", Ack Seq. Number: %u\n", get_be32(cx, h + 12));
    field(cx, "autonomous_system", "  Autosys: %u\n", get_be32(cx, h + 16));
    bump(cx.counters.eigrp);
    return 0;
}
