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
    layer("mpls", "\n- MPLS Header -\n");
    uint32_t entry = get_be32(h);
    uint32_t label = entry >> 12;
    item("labels");
    field("label", "  Label: %u", label);
    print_name("label", dense_name(labels, label, "unknown"));
    field("traffic_class", ", Experimental: %u", (entry >> 9) & 0x7);
    field("bottom_of_stack", "\n  Bottom of stack: %u", (entry >> 8) & 0x1);
    field("ttl", ", TTL: %u\n", entry & 0xff);
    item_end();
    bump(counters.mpls);
    return 0;
}
