#include "decode/routing/gsmp.h"

#include "decode/decoder.h"

namespace {

constexpr const char* results[] = {"Unknown", "NoSuccessAck", "AckAll", "Success", "Failure"};

}  // namespace

int decode_gsmp(decode_context& cx, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    uint8_t version = get_u8(cx, h);
    layer(cx, "gsmp", "- GSMP Header -");
    field(cx, "version", "\n  Version: %u, ", version);
    uint8_t result = get_u8(cx, h + 2);
    uint8_t type = get_u8(cx, h + 1);
    field(cx, "type", "Type: %u", type);
    field(cx, "result", "\n Result: %u", result);
    print_name(cx, "result", dense_name(results, result, "Unknown"));
    field(cx, "code", "\n  Code: %u\n", get_u8(cx, h + 3));
    bump(cx.counters.gsmp);
    return 0;
}
