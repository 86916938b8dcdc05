#include "decode/routing/ifmp.h"

#include "decode/decoder.h"

namespace {

constexpr const char* opcodes[] = {
    "Syn", "Syn/Ack", "Rst/Ack", "Ack", "Redirect", "Reclaim", "Reclaim/Ack", "Label Range", "Error",
};

// Opcodes 0 to 3 are the adjacency protocol's messages.
constexpr uint8_t last_adjacency_opcode = 3;

void print_instances(const uint8_t* h) {
    need(h + 4, 8);
    field("sender_instance", "  Sender Instance: %u", get_be32(h + 4));
    field("peer_instance", ", Peer Instance: %u\n", get_be32(h + 8));
}

}  // namespace

int decode_ifmp(const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    uint8_t version = get_u8(h);
    layer("ifmp", "- IFMP Header -");
    field("version", "\n  Version: %d\n", version);
    // The opcode names the message: recorded as its type.
    uint8_t opcode = get_u8(h + 1);
    field("type", "  Opcode: %d", opcode);
    print_name("type", dense_name(opcodes, opcode, "unknown"));
    field("checksum", ", Checksum: 0x%04x\n", get_be16(h + 2));
    if (opcode <= last_adjacency_opcode) {
        print_instances(h);
        need(h + 12, 8);
        field("peer_identity", "  Peer Identity: %u", get_be32(h + 12));
        field("peer_next_seq", ", Peer Next Sequence Number: %u\n", get_be32(h + 16));
        need(h + 20, 3);
        field("reserved1", "  Reserved(1): %u", get_be16(h + 20));
        field("reserved2", ", Reserved(2): %u\n", get_u8(h + 22));
        field("max_ack_interval", "  Max. Ack Interval: %u\n", get_u8(h + 23));
    } else if (opcode < sizeof opcodes / sizeof opcodes[0]) {
        print_instances(h);
        field("seq", "  Sequence Number: %u\n", get_be32(h + 12));
    }
    bump(counters.ifmp);
    return 0;
}
