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

int decode_narp(decode_context& cx, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    uint8_t version = get_u8(cx, h);
    layer(cx, "narp", "- NARP Header -");
    field(cx, "version", "\n  Version: %d\n", version);
    need(cx, h + 1, 3);
    field(cx, "hop_count", "  Hop Count: %d", get_u8(cx, h + 1));
    field(cx, "checksum", ", Checksum: 0x%04x\n", get_be16(cx, h + 2));
    uint8_t type = get_u8(cx, h + 4), code = get_u8(cx, h + 5);
    field(cx, "type", "  Type: %d", type);
    print_name(cx, "type", dense_name(message_types, type, "unknown"));
    field(cx, "code", "\n  Code: %d", code);
    if (type == 1) print_name(cx, "code", dense_name(request_codes, code, "unknown"));
    if (type == 2) print_name(cx, "code", dense_name(reply_codes, code, "unknown"));
    // The source address follows the destination in the message; the length
    // byte shares the destination's line.
    field(cx, "src", "\n  Src IP: %s", ipv4_text(cx, h + 12));
    field(cx, "dst", "\n  Dst IP: %s", ipv4_text(cx, h + 8));
    field(cx, "length", "  Length: %d\n", get_u8(cx, h + 16));
    bump(cx.counters.narp);
    return 0;
}
