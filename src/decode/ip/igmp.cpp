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

constexpr code_name record_types[] = {
    {1, "MODE_IS_INCLUDE"},        {2, "MODE_IS_EXCLUDE"},   {3, "CHANGE_TO_INCLUDE_MODE"},
    {4, "CHANGE_TO_EXCLUDE_MODE"}, {5, "ALLOW_NEW_SOURCES"}, {6, "BLOCK_OLD_SOURCES"},
};

constexpr uint8_t membership_query = 0x11;
constexpr uint8_t v3_report = 0x22;
// Far more than fit in a jumbo frame; only a bound on the steps.
constexpr unsigned max_records = 4096;
constexpr unsigned max_sources = 65535;

// Version 3 codes of 128 and more are a 3-bit exponent and 4-bit mantissa.
unsigned v3_time(uint8_t code) {
    if (code < 128) return code;
    return (0x10u | (code & 0x0fu)) << (((code >> 4) & 7u) + 3);
}

// In tenths of a second.
void response_time(decode_context& cx, unsigned tenths) {
    record_number(cx, "max_response_tenths", tenths);
    zelk_printf(cx.out, ", Max Resp Time: %u.%u s", tenths / 10, tenths % 10);
}

void source_list(decode_context& cx, const uint8_t* p, unsigned count, const char* indent) {
    for (unsigned i = 0; i < count && i < max_sources; ++i, p += 4) {
        need(cx, p, 4);
        zelk_printf(cx.out, "%sSource: %s\n", indent, ipv4_text(cx, p).c_str());
        list_text(cx, "source_addresses", ipv4_text(cx, p).c_str());
    }
}

// A query's version follows from its length: 8 bytes are version 1 (no
// response time) or 2, 12 and more version 3; other lengths are invalid.
void query_details(decode_context& cx, const uint8_t* h, const uint8_t* end) {
    long length = end - h;
    uint8_t code = get_u8(cx, h + 1);
    if (length == 8) {
        unsigned version = code ? 2 : 1;
        field(cx, "query_version", "  Query version: %u", version);
        if (version == 2) response_time(cx, code);
        zelk_printf(cx.out, "\n");
        summary_note(cx, "v%u query %s", version, ipv4_text(cx, h + 4).c_str());
        return;
    }
    if (length < 12) {
        zelk_printf(cx.out, "  Query version: unknown (%ld bytes)\n", length);
        record_text(cx, "error", "query length neither 8 nor 12 or more bytes");
        return;
    }
    bump(cx.counters.igmpv3);
    need(cx, h, 12);
    unsigned sources = get_be16(cx, h + 10);
    field(cx, "query_version", "  Query version: %u", 3u);
    response_time(cx, v3_time(code));
    field(cx, "suppress", "\n  S: %u", (h[8] >> 3) & 1u);
    field(cx, "qrv", ", QRV: %u", h[8] & 7u);
    field(cx, "qqic", ", QQIC: %u s", v3_time(h[9]));
    field(cx, "source_count", ", Sources: %u\n", sources);
    summary_note(cx, "v3 query %s, %u sources", ipv4_text(cx, h + 4).c_str(), sources);
    source_list(cx, h + 12, sources, "    ");
}

void v3_report_records(decode_context& cx, const uint8_t* h, const uint8_t* end) {
    bump(cx.counters.igmpv3);
    unsigned count = get_be16(cx, h + 6);
    field(cx, "record_count", "  Group Records: %u\n", count);
    summary_note(cx, "v3 report, %u records", count);
    const uint8_t* p = h + 8;
    for (unsigned i = 0; i < count && i < max_records; ++i) {
        if (p + 8 > end) {
            zelk_printf(cx.out, "  [malformed: %u group records announced, %u present]\n", count, i);
            record_text(cx, "error", "group records run past the message");
            return;
        }
        need(cx, p, 8);
        uint8_t type = p[0];
        unsigned aux_words = p[1], sources = get_be16(cx, p + 2);
        item(cx, "records");
        field(cx, "type", "  Record: %u", type);
        print_name(cx, "type", find_name(record_types, type, "unknown"));
        field(cx, "group", ", Group: %s", ipv4_text(cx, p + 4));
        field(cx, "sources", ", Sources: %u", sources);
        if (aux_words) field(cx, "aux_length", ", Aux Data: %u words", aux_words);
        zelk_printf(cx.out, "\n");
        source_list(cx, p + 8, sources, "    ");
        item_end(cx);
        p += 8 + sources * 4u + aux_words * 4u;
    }
}

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
    // The banner names the fixed layout; the record names the protocol
    // version of the message: a query's follows from its length, a version
    // 3 report is version 3 though laid out like version 2.
    int version = l->version;
    if (type == membership_query) {
        long length = ip_payload_end(cx) - h;
        version = length >= 12 ? 3 : length == 8 && get_u8(cx, h + 1) ? 2 : 1;
    } else if (type == v3_report) {
        version = 3;
    }
    record_number(cx, "version", version);
    field(cx, "type", "\n  Type: 0x%02x", type);
    if (verbose()) print_igmp_type_name(cx, type);
    uint16_t checksum = get_be16(cx, h + 2);
    unsigned second = get_u8(cx, h + 1);
    switch (l->version) {
        case 0: field(cx, "code", "\n  Code: %u", second); break;
        case 1: field(cx, "unused", "\n  Unused: %u", second); break;
        default:
            // Reserved in a version 3 report: printed, not recorded.
            if (type != v3_report)
                field(cx, "max_response_time", "\n  Max resonse time: %u", second);
            else if (!recording())
                zelk_printf(cx.out, "\n  Max resonse time: %u", second);
            break;
    }
    field(cx, "checksum", ", Checksum: 0x%04x", checksum);
    need(cx, h, 8);
    // The checksum covers the whole message (version 3 reports and queries
    // are longer than 8 bytes); a message the capture cut cannot be judged.
    if (settings.calc_checksums && checksum_judgeable(cx))
        print_checksum_verdict(cx, checksum, expected_checksum(cx, h, ip_message_length(cx, h), 2), *l->bad_counter);
    // A version 3 report has reserved bytes and the record count there.
    if (type != v3_report)
        field(cx, "group", "\n  Group Addr: %s\n", ipv4_text(cx, h + 4));
    else if (!recording())
        zelk_printf(cx.out, "\n  Group Addr: %s\n", ipv4_text(cx, h + 4).c_str());
    bump(*l->counter);
    // Queries and version 3 reports carry more than the fixed 8 bytes; the
    // plain text keeps its fixed lines and shows the rest when expanded.
    if ((type == membership_query || type == v3_report) && expanded(false)) {
        const uint8_t* end = ip_payload_end(cx);
        if (type == membership_query)
            query_details(cx, h, end);
        else
            v3_report_records(cx, h, end);
    }
    return 0;
}
