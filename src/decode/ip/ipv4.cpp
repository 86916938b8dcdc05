#include "decode/ip/ipv4.h"

#include <cstring>

#include "decode/decoder.h"
#include "decode/ip/ip.h"
#include "decode/ip/pseudo_header.h"

// The type-of-service field of RFC 1349: the four bits above the ECN bits.
static const char* type_of_service_name(uint8_t tos) {
    switch ((tos >> 1) & 0x0f) {
        case 0x0: return "default";
        case 0x1: return "min cost";
        case 0x2: return "max rel.";
        case 0x4: return "max thr.";
        case 0x8: return "min del.";
        case 0xf: return "max sec.";
        default: return "unknown";
    }
}

static const char* ecn_name(uint8_t tos) {
    static const char* const names[] = {"Not-ECT", "ECT[1]", "ECT[0]", "CE"};
    return names[tos & 0x03];
}

// Options with a length byte, by type; the verbose text differs only for
// the router alert.
static const char* option_format(uint8_t type) {
    static constexpr code_name formats[] = {
        {7, " <RR Length=%d>"},      {10, " <ZSU Length=%d>"},     {11, " <MTUP Length=%d>"},
        {12, " <MTUR Length=%d>"},   {15, " <ENCODE Length=%d>"},  {68, " <TS Length=%d>"},
        {82, " <TR Length=%d>"},     {130, " <SEC Length=%d>"},    {131, " <LSR Length=%d>"},
        {133, " <E-SEC Length=%d>"}, {134, " <CIPSO Length=%d>"},  {136, " <SID Length=%d>"},
        {137, " <SSR Length=%d>"},   {142, " <VISA Length=%d>"},   {144, " <IMITD Length=%d>"},
        {145, " <EIP Length=%d>"},   {147, " <ADDEXT Length=%d>"}, {148, " <RA Length=%d>"},
        {149, " <SDB Length=%d>"},   {150, " <NSAPA Length=%d>"},  {151, " <DPS Length=%d>"},
        {152, " <UMP Length=%d>"},   {205, " <FINN Length=%d>"},
    };
    if (type == 148 && settings.verbose) return " <Router Alert Length=%d>";
    return find_name(formats, type, nullptr);
}

static void print_options(decode_context& cx, const uint8_t* options, unsigned length) {
    unsigned cursor = 0;
    while (cursor < length) {
        const uint8_t* option = options + cursor;
        uint8_t type = get_u8(cx, option);
        list_number(cx, "options", type);
        if (type == 0) {
            zelk_printf(cx.out, settings.verbose ? " <End of Option List>" : " <EOOL>");
            return;
        }
        if (type == 1) {
            zelk_printf(cx.out, settings.verbose ? " <No Operation>" : " <NOP>");
            ++cursor;
            continue;
        }
        const char* format = option_format(type);
        uint8_t option_length = format ? get_u8(cx, option + 1) : 0;
        // A length below 2 cannot move past the option: end the list as for
        // an unknown type.
        if (!format || option_length < 2) {
            zelk_printf(cx.out, " <Unknown>");
            return;
        }
        zelk_printf(cx.out, format, option_length);
        cursor += option_length;
    }
}

static void print_flags(decode_context& cx, uint16_t flags_offset) {
    record_flag(cx, "reserved_flag", flags_offset & 0x8000);
    record_flag(cx, "dont_fragment", flags_offset & 0x4000);
    record_flag(cx, "more_fragments", flags_offset & 0x2000);
    if (!(flags_offset & 0xe000)) return;
    zelk_printf(cx.out, " (");
    if (flags_offset & 0x8000) zelk_printf(cx.out, "res. frag. ");
    if (flags_offset & 0x4000) zelk_printf(cx.out, "dont frag. ");
    if (flags_offset & 0x2000) zelk_printf(cx.out, "more frag. ");
    zelk_printf(cx.out, ")");
}

short_text ipv4_text(const decode_context& cx, const uint8_t* a) {
    short_text result;
    need(cx, a, 4);
    char* out = result.text;
    for (int i = 0; i < 4; ++i) {
        if (i) *out++ = '.';
        unsigned v = a[i];
        if (v >= 100) *out++ = static_cast<char>('0' + v / 100);
        if (v >= 10) *out++ = static_cast<char>('0' + v / 10 % 10);
        *out++ = static_cast<char>('0' + v % 10);
    }
    *out = 0;
    return result;
}

int decode_ipv4(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    nesting_guard nested(cx);
    const uint8_t* h = header_at(cx, frame, offset);
    layer(cx, "ipv4", "\n- IPv4 Header -");
    need(cx, h, 20);
    unsigned ihl = h[0] & 0x0f;
    unsigned header_length = ihl * 4;
    uint8_t tos = h[1];
    uint16_t total_length = get_be16(cx, h + 2);
    uint16_t flags_offset = get_be16(cx, h + 6);
    unsigned fragment_offset = flags_offset & 0x1fff;
    uint8_t protocol = h[9];
    uint16_t checksum = get_be16(cx, h + 10);
    // Never negative, whatever the length fields claim.
    unsigned payload_length = total_length > header_length ? total_length - header_length : 0;

    field(cx, "version", "\n  Version: %d", h[0] >> 4);
    field(cx, "header_length", ", Hdr-Len: %d", ihl);
    field(cx, "total_length", ", Length: %d\n", total_length);
    field(cx, "ttl", "  TTL: %d", h[8]);
    field(cx, "tos", ", TOS: 0x%02x", tos);
    if (verbose()) {
        field(cx, "tos_name", " (%s", type_of_service_name(tos));
        field(cx, "ecn_name", "|%s)", ecn_name(tos));
    }
    field(cx, "id", ", ID: %u", get_be16(cx, h + 4));
    field(cx, "fragment", "\n  Frag.: 0x%x", flags_offset);
    if (verbose()) print_flags(cx, flags_offset);
    if (fragment_offset || recording()) field(cx, "fragment_offset", " [Offset=%d]", fragment_offset * 8);
    field(cx, "src", "\n  Src IP: %s", ipv4_text(cx, h + 12));
    field(cx, "dst", "\n  Dst IP: %s", ipv4_text(cx, h + 16));
    field(cx, "protocol", "\n  Protocol: %d", protocol);
    if (verbose()) print_ip_protocol_name(cx, protocol);
    field(cx, "checksum", "\n  Checksum: 0x%04x", checksum);

    set_ipv4_pseudo_header(cx, h, header_length, flags_offset);
    if (settings.calc_checksums) {
        // A header cut by the snap length cannot be judged.
        if (captured_from(cx, h, header_length) == header_length)
            print_checksum_verdict(cx, checksum, expected_checksum(cx, h, header_length, 10), cx.counters.ipv4_bad);
    }

    if (ihl < 5) {
        zelk_printf(cx.out, "\n  Error: bad header length");
        record_text(cx, "error", "bad header length");
        bump(cx.counters.ipv4_error);
        bump(cx.counters.ipv4);
        return 0;
    }
    if (ihl > 5) {
        zelk_printf(cx.out, "\n  Options");
        if (verbose()) field(cx, "options_length", "(%u bytes)", header_length - 20);
        zelk_printf(cx.out, ": [");
        print_options(cx, h + 20, header_length - 20);
        zelk_printf(cx.out, " ]");
    }
    if (protocol != 41) zelk_printf(cx.out, "\n");

    if (fragment_offset == 0) {
        if (protocol == 6 && settings.print_tcp_stream) cx.tcp_stream_ip_header = h;
        set_ip_payload(cx, h + header_length, payload_length);
        decode_ip_payload(cx, lengths, frame, offset + header_length, protocol);
    }

    if (settings.print_ip_hex && !settings.print_tcp_text && !settings.print_tcp_hex && !settings.print_udp_text &&
        !settings.print_udp_hex) {
        // From byte 20 to the end of the frame on the wire, as far as captured.
        const uint8_t* start = h + 20;
        size_t before = static_cast<size_t>(start - frame);
        size_t want = lengths->wire_length > before ? lengths->wire_length - before : 0;
        zelk_printf(cx.out, "\n");
        hex_dump(cx, start, static_cast<unsigned>(captured_from(cx, start, want)));
    }
    bump(cx.counters.ipv4);
    return 0;
}
