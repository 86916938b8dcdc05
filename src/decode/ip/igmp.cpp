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

const layout* layout_of(uint8_t type) {
    static const layout v0{"- IGMPv0 Header -", 0, &counters.igmpv0, &counters.igmpv0_bad};
    static const layout v1{"- IGMPv1 Header -", 1, &counters.igmpv1, &counters.igmpv1_bad};
    static const layout v2{"- IGMPv2 Header -", 2, &counters.igmpv2, &counters.igmpv2_bad};
    static constexpr uint8_t v2_types[] = {20, 21, 22, 23, 30, 31, 34, 36, 37, 38};
    if (type >= 1 && type <= 8) return &v0;
    if (type >= 17 && type <= 19) return &v1;
    for (uint8_t t : v2_types)
        if (t == type) return &v2;
    return nullptr;
}

}  // namespace

void print_igmp_type_name(uint8_t type) { print_name("type", find_name(type_names, type, "unkown")); }

int decode_igmp(const frame_lengths*, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    const layout* l = layout_of(get_u8(h));
    if (!l) {
        layer("igmp", "- Unknown IGMP Header -\n");
        record_number("type", h[0]);
        return 0;
    }
    uint8_t type = h[0];
    layer("igmp", l->banner);
    record_number("version", l->version);
    field("type", "\n  Type: 0x%02x", type);
    if (verbose()) print_igmp_type_name(type);
    uint16_t checksum = get_be16(h + 2);
    unsigned second = get_u8(h + 1);
    switch (l->version) {
        case 0: field("code", "\n  Code: %u", second); break;
        case 1: field("unused", "\n  Unused: %u", second); break;
        default: field("max_response_time", "\n  Max resonse time: %u", second); break;
    }
    field("checksum", ", Checksum: 0x%04x", checksum);
    need(h, 8);
    // The checksum covers the whole message (version 3 reports and queries
    // are longer than 8 bytes); a message the capture cut cannot be judged.
    if (settings.calc_checksums && checksum_judgeable())
        print_checksum_verdict(checksum, expected_checksum(h, ip_message_length(h), 2), *l->bad_counter);
    field("group", "\n  Group Addr: %s\n", ipv4_text(h + 4));
    bump(*l->counter);
    return 0;
}
