#include "decode/routing/narp.h"

#include "decode/decoder.h"
#include "decode/routing/routing.h"

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
    zelk_printf("- NARP Header -\n  Version: %d\n", get_u8(h));
    zelk_printf("  Hop Count: %d, Checksum: 0x%04x\n", get_u8(h + 1), get_be16(h + 2));
    uint8_t type = get_u8(h + 4), code = get_u8(h + 5);
    zelk_printf("  Type: %d", type);
    print_name(dense_name(message_types, type, "unknown"));
    zelk_printf("\n  Code: %d", code);
    if (type == 1) print_name(dense_name(request_codes, code, "unknown"));
    if (type == 2) print_name(dense_name(reply_codes, code, "unknown"));
    // The source address follows the destination in the message; the length
    // byte shares the destination's line.
    zelk_printf("\n  Src IP: %s", dotted_quad(h + 12).text);
    zelk_printf("\n  Dst IP: %s", dotted_quad(h + 8).text);
    zelk_printf("  Length: %d\n", get_u8(h + 16));
    bump(counters.narp);
    return 0;
}
