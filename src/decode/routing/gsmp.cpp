#include "decode/routing/gsmp.h"

#include "decode/decoder.h"

namespace {

constexpr const char* results[] = {"Unknown", "NoSuccessAck", "AckAll", "Success", "Failure"};

}  // namespace

int decode_gsmp(const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    zelk_printf("- GSMP Header -\n  Version: %u, ", get_u8(h));
    uint8_t result = get_u8(h + 2);
    zelk_printf("Type: %u\n Result: %u", get_u8(h + 1), result);
    print_name(dense_name(results, result, "Unknown"));
    zelk_printf("\n  Code: %u\n", get_u8(h + 3));
    bump(counters.gsmp);
    return 0;
}
