#include "decode/routing/narp.h"

#include "decode/decoder.h"
#include "decode/ip/ipv4.h"

namespace {

constexpr const char* message_types[] = {"Reserved", "Request", "Reply"};
constexpr const char* request_codes[] = {"Reserved", "NARP Request", "NARP Request for Authoritative Information"};
constexpr const char* reply_codes[] = {
    "Reserved",
    "Positive non-authoritative reply",
    "Positive authoritative reply",
    "Negative non-authoritative reply",
    "Negative authoritative reply",
};

}  // namespace

int decode_narp(const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    uint8_t version = get_u8(h);
    layer("narp", "- NARP Header -");
    field("version", "\n  Version: %d\n", version);
    need(h + 1, 3);
    field("hop_count", "  Hop Count: %d", get_u8(h + 1));
    field("checksum", ", Checksum: 0x%04x\n", get_be16(h + 2));
    uint8_t type = get_u8(h + 4), code = get_u8(h + 5);
    field("type", "  Type: %d", type);
    print_name("type", dense_name(message_types, type, "unknown"));
    field("code", "\n  Code: %d", code);
    if (type == 1) print_name("code", dense_name(request_codes, code, "unknown"));
    if (type == 2) print_name("code", dense_name(reply_codes, code, "unknown"));
    // The source address follows the destination in the message; the length
    // byte shares the destination's line.
    field("src", "\n  Src IP: %s", ipv4_text(h + 12));
    field("dst", "\n  Dst IP: %s", ipv4_text(h + 8));
    field("length", "  Length: %d\n", get_u8(h + 16));
    bump(counters.narp);
    return 0;
}
