#include "decode/routing/pim.h"

#include "decode/decoder.h"
#include "decode/routing/routing.h"

namespace {

constexpr const char* version1_types[] = {
    "Query", "Register", "Register-Stop", "Join/Prune", "RP-reachable", "Assert", "Graft", "Graft-Ack",
};
constexpr const char* version2_types[] = {
    "Hello",      "Register",  "Register-Stop",
    "Join/Prune", "Bootstrap", "Assert",
    "Graft",      "Graft-Ack", "Candidate-RP-Advertisement",
    "Graft-Ack",
};

constexpr unsigned register_type = 1;
// A version 2 Register checksums only its header and the flags word, not the
// data packet it carries.
constexpr size_t register_checksummed_length = 8;

int decode_pim_header(decode_context& cx, const uint8_t* frame, unsigned offset, bool judge_checksum) {
    const uint8_t* h = header_at(cx, frame, offset);
    layer(cx, "pim", "- PIM Header -\n");
    uint8_t first = get_u8(cx, h);
    unsigned version = first >> 4, type = first & 0x0f;
    field(cx, "version", "  Version: %d", version);
    field(cx, "type", "\n  Type: %d", type);
    if (version == 1) print_name(cx, "type", dense_name(version1_types, type, "unknown"));
    if (version == 2) print_name(cx, "type", dense_name(version2_types, type, "unknown"));
    field(cx, "reserved", "\n  Reserved: %d\n", get_u8(cx, h + 1));
    field(cx, "checksum", "  Checksum: 0x%04x", get_be16(cx, h + 2));
    uint32_t unused_bad = 0;
    uint32_t& bad = version == 1 ? cx.counters.pimv1_bad : version == 2 ? cx.counters.pimv2_bad : unused_bad;
    size_t limit = version == 2 && type == register_type ? register_checksummed_length : SIZE_MAX;
    if (judge_checksum) print_message_checksum_verdict(cx, h, 2, bad, limit);
    zelk_printf(cx.out, "\n");
    if (version == 1) bump(cx.counters.pimv1);
    if (version == 2) bump(cx.counters.pimv2);
    return 0;
}

}  // namespace

int decode_pim(decode_context& cx, const uint8_t* frame, unsigned offset) {
    return decode_pim_header(cx, frame, offset, true);
}

int decode_pim_over_ipv6(decode_context& cx, const uint8_t* frame, unsigned offset) {
    return decode_pim_header(cx, frame, offset, false);
}
