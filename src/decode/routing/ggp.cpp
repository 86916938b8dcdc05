#include "decode/routing/ggp.h"

#include "decode/decoder.h"

namespace {

constexpr code_name gateway_types[] = {
    {0, "Echo reply"},
    {2, "Acknowledgement"},
    {8, "Echo request"},
    {9, "Network Interface status"},
    {10, "Negative Acknowledgement"},
    {12, "Routing update"},
};

}  // namespace

int decode_ggp(decode_context& cx, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    uint8_t type = get_u8(cx, h);
    layer(cx, "ggp", "- GGP Header -");
    field(cx, "type", "\n  Gateway type: %u", type);
    print_name(cx, "type", find_name(gateway_types, type, "unknown"));
    field(cx, "unused", "\n  Unused: %u", get_u8(cx, h + 1));
    field(cx, "seq", "\n  Sequence number: %u\n", get_be16(cx, h + 2));
    bump(cx.counters.ggp);
    return 0;
}
