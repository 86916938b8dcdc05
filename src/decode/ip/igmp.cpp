#include "decode/ip/igmp.h"

#include "decode/decoder.h"
#include "decode/ip/ipv4.h"

namespace {

constexpr code_name type_names[] = {
    {1, "Create Group Request"},
    {2, "Create Group Reply"},
    {3, "Join Group Request"},
    {4, "Join Group Reply"},
    {5, "Leave Group Request"},
    {6, "Leave Group Reply"},
    {7, "Confirm Group Request"},
    {8, "Confirm Group Reply"},
    {17, "Membership query"},
    {18, "Membership version 1 report"},
    {19, "DVMRP"},
    {20, "PIMv1"},
    {21, "Cisco trace messages"},
    {22, "Membership version 2 report"},
    {23, "Leave group"},
    {30, "Multicast traceroute respone"},
    {31, "Multicast traceroute"},
    {34, "Membership version 3 report"},
    {36, "Multicast Router Advertisement"},
    {37, "Multicast Router Solicitation"},
    {38, "Multicast Router Termination"},
};

// The message type decides which header layout is assumed.
struct layout {
    const char* banner;
    int version;
    uint32_t* counter;
    uint32_t* bad_counter;
};

const layout* layout_of(decode_context& cx, uint8_t type) {
    static const layout v0{"- IGMPv0 Header -", 0, &cx.counters.igmpv0, &cx.counters.igmpv0_bad};
    static const layout v1{"- IGMPv1 Header -", 1, &cx.counters.igmpv1, &cx.counters.igmpv1_bad};
    static const layout v2{"- IGMPv2 Header -", 2, &cx.counters.igmpv2, &cx.counters.igmpv2_bad};
    static constexpr uint8_t v2_types[] = {20, 21, 22, 23, 30, 31, 34, 36, 37, 38};
    if (type >= 1 && type <= 8) return &v0;
    if (type >= 17 && type <= 19) return &v1;
    for (uint8_t t : v2_types)
        if (t == type) return &v2;
    return nullptr;
}

}  // namespace

void print_igmp_type_name(decode_context& cx, uint8_t type) {
    print_name(cx, "type", find_name(type_names, type, "unkown"));
}

int decode_igmp(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    const layout* l = layout_of(cx, get_u8(cx, h));
    if (!l) {
        layer(cx, "igmp", "- Unknown IGMP Header -\n");
        record_number(cx, "type", h[0]);
        return 0;
    }
    uint8_t type = h[0];
    layer(cx, "igmp", l->banner);
    record_number(cx, "version", l->version);
    field(cx, "type", "\n  Type: 0x%02x", type);
    if (verbose()) print_igmp_type_name(cx, type);
    uint16_t checksum = get_be16(cx, h + 2);
    unsigned second = get_u8(cx, h + 1);
    switch (l->version) {
        case 0: field(cx, "code", "\n  Code: %u", second); break;
        case 1: field(cx, "unused", "\n  Unused: %u", second); break;
        default: field(cx, "max_response_time", "\n  Max resonse time: %u", second); break;
    }
    field(cx, "checksum", ", Checksum: 0x%04x", checksum);
    need(cx, h, 8);
    // The checksum covers the whole message (version 3 reports and queries
    // are longer than 8 bytes); a message the capture cut cannot be judged.
    if (settings.calc_checksums && checksum_judgeable(cx))
        print_checksum_verdict(cx, checksum, expected_checksum(cx, h, ip_message_length(cx, h), 2), *l->bad_counter);
    field(cx, "group", "\n  Group Addr: %s\n", ipv4_text(cx, h + 4));
    bump(*l->counter);
    return 0;
}
