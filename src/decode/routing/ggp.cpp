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

int decode_ggp(const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    uint8_t type = get_u8(h);
    layer("ggp", "- GGP Header -");
    field("type", "\n  Gateway type: %u", type);
    print_name("type", find_name(gateway_types, type, "unknown"));
    field("unused", "\n  Unused: %u", get_u8(h + 1));
    field("seq", "\n  Sequence number: %u\n", get_be16(h + 2));
    bump(counters.ggp);
    return 0;
}
