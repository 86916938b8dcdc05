#include "decode/routing/ifmp.h"

#include "decode/decoder.h"

namespace {

constexpr const char* opcodes[] = {
    "Syn", "Syn/Ack", "Rst/Ack", "Ack", "Redirect", "Reclaim", "Reclaim/Ack", "Label Range", "Error",
};

// Opcodes 0 to 3 are the adjacency protocol's messages.
constexpr uint8_t last_adjacency_opcode = 3;

}  // namespace

int decode_ifmp(const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    zelk_printf("- IFMP Header -\n  Version: %d\n", get_u8(h));
    uint8_t opcode = get_u8(h + 1);
    zelk_printf("  Opcode: %d", opcode);
    print_name(dense_name(opcodes, opcode, "unknown"));
    zelk_printf(", Checksum: 0x%04x\n", get_be16(h + 2));
    if (opcode <= last_adjacency_opcode) {
        zelk_printf("  Sender Instance: %u, Peer Instance: %u\n", get_be32(h + 4), get_be32(h + 8));
        zelk_printf("  Peer Identity: %u, Peer Next Sequence Number: %u\n", get_be32(h + 12), get_be32(h + 16));
        zelk_printf("  Reserved(1): %u, Reserved(2): %u\n", get_be16(h + 20), get_u8(h + 22));
        zelk_printf("  Max. Ack Interval: %u\n", get_u8(h + 23));
    } else if (opcode < sizeof opcodes / sizeof opcodes[0]) {
        zelk_printf("  Sender Instance: %u, Peer Instance: %u\n", get_be32(h + 4), get_be32(h + 8));
        zelk_printf("  Sequence Number: %u\n", get_be32(h + 12));
    }
    bump(counters.ifmp);
    return 0;
}
