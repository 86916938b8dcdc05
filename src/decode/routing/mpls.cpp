#include "decode/routing/mpls.h"

#include "decode/decoder.h"

namespace {

constexpr const char* reserved = "Reserved";
constexpr const char* labels[] = {
    "IPv4 Explicit NULL",
    "Router Alert Label",
    "IPv6 Explicit NULL",
    "Implicit NULL",
    reserved,
    reserved,
    reserved,
    reserved,
    reserved,
    reserved,
    reserved,
    reserved,
    reserved,
    reserved,
    reserved,
    reserved,
    "End of Tunnel",
};

}  // namespace

int decode_mpls(const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    zelk_printf("\n- MPLS Header -\n");
    uint32_t entry = get_be32(h);
    uint32_t label = entry >> 12;
    zelk_printf("  Label: %u", label);
    print_name(dense_name(labels, label, "unknown"));
    zelk_printf(", Experimental: %u", (entry >> 9) & 0x7);
    zelk_printf("\n  Bottom of stack: %u, TTL: %u\n", (entry >> 8) & 0x1, entry & 0xff);
    bump(counters.mpls);
    return 0;
}
