#include "decode/ip/icmpv6.h"

#include "decode/decoder.h"
#include "decode/ip/icmp_quote.h"
#include "decode/ip/icmpv6_nd.h"
#include "decode/ip/pseudo_header.h"

namespace {

constexpr code_name type_names[] = {
    {1, "Dest. unreachable"},
    {2, "Packet too big"},
    {3, "Time exceeded"},
    {4, "Parameter problem"},
    {128, "Echo request"},
    {129, "Echo reply"},
    {130, "Group Membership Query"},
    {131, "Group Membership Report"},
    {132, "Group Membership Reduction"},
    {133, "Router Solicitation"},
    {134, "Router Advertisement"},
    {135, "Neighbor Solicitation"},
    {136, "Neighbor Advertisement"},
    {137, "Redirect"},
    {138, "Router renumbering"},
    {139, "Node Information Query"},
    {140, "Node Information Response"},
    {141, "Inv. Neighbor Disc. Sol. Message"},
    {142, "Inv. Neighbor Disc. Adv. Message"},
};

constexpr const char* unreachable_codes[] = {
    "No route to destination", "Com. with dest. admin. prohibited", "Not assigned", "Address unreachable",
    "Port unreachable",
};
constexpr const char* time_exceeded_codes[] = {"Hop limit exceeded in transit", "Fragment reassembly time exceeded"};
constexpr const char* parameter_problem_codes[] = {
    "Errorneous header field encount.", "Unrecognized Next H. t. encount.", "Unrecognized IPv6 opt. encount."};
constexpr code_name renumbering_codes[] = {
    {0, "Router Renumbering Command"},
    {1, "Router Renumbering Result"},
    {255, "Sequence Number Reset"},
};

// The verbose separator between the code and the checksum: the code's
// name where the type has a code table, then a line break.
void print_code_name(decode_context& cx, uint8_t type, uint8_t code) {
    const char* name = nullptr;
    switch (type) {
        case 1: name = dense_name(unreachable_codes, code, "unknown"); break;
        case 3: name = dense_name(time_exceeded_codes, code, "unknown"); break;
        case 4: name = dense_name(parameter_problem_codes, code, "unknown"); break;
        case 138: name = find_name(renumbering_codes, code, "unknown"); break;
        default: break;
    }
    if (name) print_name(cx, "code", name);
    zelk_printf(cx.out, "\n  ");
}

}  // namespace

int decode_icmpv6(decode_context& cx, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    layer(cx, "icmpv6", "- ICMPv6 Header -");
    uint8_t type = get_u8(cx, h);
    field(cx, "type", "\n  Type: %d", type);
    if (verbose()) print_name(cx, "type", find_name(type_names, type, "unknown"));
    uint8_t code = get_u8(cx, h + 1);
    field(cx, "code", "\n  Code: %d", code);
    if (verbose())
        print_code_name(cx, type, code);
    else
        zelk_printf(cx.out, ", ");
    uint16_t checksum = get_be16(cx, h + 2);
    field(cx, "checksum", "Checksum: 0x%04x", checksum);
    if (settings.calc_checksums)
        print_transport_checksum_verdict(cx, h, 58, 2, checksum, cx.counters.icmpv6_bad);
    else
        zelk_printf(cx.out, "\n");
    switch (type) {
        case 128:
        case 129:
            field(cx, "identifier", "  Identifier: %d", get_be16(cx, h + 4));
            field(cx, "seq", ", Seq.: %d\n", get_be16(cx, h + 6));
            break;
        case 2: field(cx, "mtu", "  MTU: %u\n", get_be32(cx, h + 4)); break;
        case 4: field(cx, "pointer", "  Pointer: %u\n", get_be32(cx, h + 4)); break;
        case 130:
        case 131:
        case 132: field(cx, "max_response_delay", "  Maximum Response Delay: %d\n", get_be16(cx, h + 4)); break;
        default: break;
    }
    if ((type >= 133 && type <= 137) || type == 143) decode_icmpv6_nd(cx, frame, offset, type);
    // Error messages (types 1 to 4) quote the packet that caused them.
    if (type >= 1 && type <= 4 && expanded(false)) decode_icmp_quote(cx, h + 8, find_name(type_names, type, "unknown"));
    bump(cx.counters.icmpv6);
    return 0;
}
