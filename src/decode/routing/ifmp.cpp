#include "decode/routing/ifmp.h"

#include "decode/decoder.h"

namespace {

constexpr const char* opcodes[] = {
    "Syn", "Syn/Ack", "Rst/Ack", "Ack", "Redirect", "Reclaim", "Reclaim/Ack", "Label Range", "Error",
};

// Opcodes 0 to 3 are the adjacency protocol's messages.
constexpr uint8_t last_adjacency_opcode = 3;

void print_instances(decode_context& cx, const uint8_t* h) {
    need(cx, h + 4, 8);
    field(cx, "sender_instance", "  Sender Instance: %u", get_be32(cx, h + 4));
    field(cx, "peer_instance", ", Peer Instance: %u\n", get_be32(cx, h + 8));
}

}  // namespace

int decode_ifmp(decode_context& cx, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    uint8_t version = get_u8(cx, h);
    layer(cx, "ifmp", "- IFMP Header -");
    field(cx, "version", "\n  Version: %d\n", version);
    // The opcode names the message: recorded as its type.
    uint8_t opcode = get_u8(cx, h + 1);
    field(cx, "type", "  Opcode: %d", opcode);
    print_name(cx, "type", dense_name(opcodes, opcode, "unknown"));
    field(cx, "checksum", ", Checksum: 0x%04x\n", get_be16(cx, h + 2));
    if (opcode <= last_adjacency_opcode) {
        print_instances(cx, h);
        need(cx, h + 12, 8);
        field(cx, "peer_identity", "  Peer Identity: %u", get_be32(cx, h + 12));
        field(cx, "peer_next_seq", ", Peer Next Sequence Number: %u\n", get_be32(cx, h + 16));
        need(cx, h + 20, 3);
        field(cx, "reserved1", "  Reserved(1): %u", get_be16(cx, h + 20));
        field(cx, "reserved2", ", Reserved(2): %u\n", get_u8(cx, h + 22));
        field(cx, "max_ack_interval", "  Max. Ack Interval: %u\n", get_u8(cx, h + 23));
    } else if (opcode < sizeof opcodes / sizeof opcodes[0]) {
        print_instances(cx, h);
        field(cx, "seq", "  Sequence Number: %u\n", get_be32(cx, h + 12));
    }
    bump(cx.counters.ifmp);
    return 0;
}
