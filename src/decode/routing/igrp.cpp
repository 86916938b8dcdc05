#include "decode/routing/igrp.h"

#include "decode/decoder.h"
#include "decode/routing/routing.h"

namespace {

constexpr const char* igrp_opcodes[] = {"Unknown", "Update", "Request"};
constexpr const char* eigrp_opcodes[] = {"Unknown", "Update", "Request", "Query", "Reply", "Hello", "IPX SAP"};

constexpr uint32_t init_bit = 0x1;
constexpr uint32_t conditional_receive_bit = 0x2;

void print_flag_name(const char* name) {
    print_name(name);
    list_text("flags_name", name);
}

}  // namespace

// The opcode names the message: recorded as its type.
int decode_igrp(const frame_lengths*, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    layer("igrp", "- IGRP Header -\n");
    uint8_t first = get_u8(h);
    field("version", "  Version: %d", first >> 4);
    field("type", ", Opcode: %d", first & 0x0f);
    print_name("type", dense_name(igrp_opcodes, first & 0x0f, "Unknown"));
    field("edition", "\n  Edition: %d\n", get_u8(h + 1));
    need(h + 2, 4);
    field("autonomous_system", "  Autosys: %d", get_be16(h + 2));
    field("interior_routes", ", Interior: %d\n", get_be16(h + 4));
    need(h + 6, 4);
    field("system_routes", "  System: %d", get_be16(h + 6));
    field("exterior_routes", ", Exterior: %d", get_be16(h + 8));
    field("checksum", "\n  Checksum: 0x%04x", get_be16(h + 10));
    print_message_checksum_verdict(h, 10, counters.igrp_bad);
    zelk_printf("\n");
    bump(counters.igrp);
    return 0;
}

int decode_eigrp(const frame_lengths*, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    layer("eigrp", "- EIGRP Header -\n");
    need(h, 2);
    uint8_t opcode = get_u8(h + 1);
    field("version", "  Version: %d", get_u8(h));
    field("type", ", Opcode: %d", opcode);
    print_name("type", dense_name(eigrp_opcodes, opcode, "Unknown"));
    field("checksum", "\n  Checksum: 0x%04x", get_be16(h + 2));
    print_message_checksum_verdict(h, 2, counters.eigrp_bad);
    uint32_t flags = get_be32(h + 4);
    field("flags", "\n  Flags: 0x%08x", flags);
    if (flags & init_bit) print_flag_name("Init bit");
    if (flags & conditional_receive_bit) print_flag_name("Conditional receive bit");
    need(h + 8, 8);
    field("seq", "\n  Sequence Number: %u", get_be32(h + 8));
    field("ack", ", Ack Seq. Number: %u\n", get_be32(h + 12));
    field("autonomous_system", "  Autosys: %u\n", get_be32(h + 16));
    bump(counters.eigrp);
    return 0;
}
