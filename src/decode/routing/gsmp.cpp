#include "decode/routing/gsmp.h"

#include "decode/decoder.h"

namespace {

constexpr const char* results[] = {"Unknown", "NoSuccessAck", "AckAll", "Success", "Failure"};

}  // namespace

int decode_gsmp(const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    uint8_t version = get_u8(h);
    layer("gsmp", "- GSMP Header -");
    field("version", "\n  Version: %u, ", version);
    uint8_t result = get_u8(h + 2);
    uint8_t type = get_u8(h + 1);
    field("type", "Type: %u", type);
    field("result", "\n Result: %u", result);
    print_name("result", dense_name(results, result, "Unknown"));
    field("code", "\n  Code: %u\n", get_u8(h + 3));
    bump(counters.gsmp);
    return 0;
}
