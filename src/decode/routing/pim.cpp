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

int decode_pim_header(const uint8_t* frame, unsigned offset, bool judge_checksum) {
    const uint8_t* h = header_at(frame, offset);
    layer("pim", "- PIM Header -\n");
    uint8_t first = get_u8(h);
    unsigned version = first >> 4, type = first & 0x0f;
    field("version", "  Version: %d", version);
    field("type", "\n  Type: %d", type);
    if (version == 1) print_name("type", dense_name(version1_types, type, "unknown"));
    if (version == 2) print_name("type", dense_name(version2_types, type, "unknown"));
    field("reserved", "\n  Reserved: %d\n", get_u8(h + 1));
    field("checksum", "  Checksum: 0x%04x", get_be16(h + 2));
    uint32_t unused_bad = 0;
    uint32_t& bad = version == 1 ? counters.pimv1_bad : version == 2 ? counters.pimv2_bad : unused_bad;
    size_t limit = version == 2 && type == register_type ? register_checksummed_length : SIZE_MAX;
    if (judge_checksum) print_message_checksum_verdict(h, 2, bad, limit);
    zelk_printf("\n");
    if (version == 1) bump(counters.pimv1);
    if (version == 2) bump(counters.pimv2);
    return 0;
}

}  // namespace

int decode_pim(const uint8_t* frame, unsigned offset) { return decode_pim_header(frame, offset, true); }

int decode_pim_over_ipv6(const uint8_t* frame, unsigned offset) { return decode_pim_header(frame, offset, false); }
