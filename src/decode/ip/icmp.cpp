#include "decode/ip/icmp.h"

#include "decode/decoder.h"
#include "decode/ip/icmp_quote.h"
#include "decode/ip/ipv4.h"

static const char* type_name(uint8_t type) {
    static constexpr code_name names[] = {
        {0, "Echo reply"},           {3, "Destination unreachable"},
        {4, "Source quench"},        {5, "Redirect"},
        {6, "Alternate host"},       {8, "Echo request"},
        {11, "Time exceeded"},       {12, "Parameter problem"},
        {13, "Time request"},        {14, "Time reply"},
        {15, "Information request"}, {16, "Information reply"},
        {17, "Mask request"},        {18, "Mask reply"},
        {30, "Traceroute"},          {37, "Domain name request"},
        {38, "Domain name reply"},   {40, "Security failures"},
    };
    return find_name(names, type, "unknown");
}

// Only these types name their codes; nullptr for the others.
static const char* code_name_of(uint8_t type, uint8_t code) {
    static constexpr const char* unreachable[] = {
        "Network unreachable",
        "Host unreachable",
        "Protocol unreachable",
        "Port unreachable",
        "Fragmentation needed but Don't Fragment set",
        "Source Route failed",
        "Destination Network unknown",
        "Destination Host unknown",
        "Source Host isolated",
        "Destination Network administr. prohibited",
        "Destination Host administr. prohibited",
        "Network unreachable for TOS",
        "Host unreachable for TOS",
        "Communication adminstr. prohibited by filter",
        "Host Precedence Violation",
        "Precedence Cutoff in effect",
    };
    static constexpr const char* redirect[] = {
        "Redirect datagrams for Network",
        "Redirect datagrams for Host",
        "Redirect datagrams for ToS and Network",
        "Redirect datagrams for ToS and Host",
    };
    static constexpr const char* alternate_host[] = {"Alternate Address for Host"};
    static constexpr const char* time_exceeded[] = {
        "Time to Live exceeded in Transit",
        "Fragment Reassembly Time Exceeded",
    };
    static constexpr const char* parameter_problem[] = {
        "Pointer indicates the error",
        "Missing a required option",
        "Bad Length",
    };
    static constexpr const char* security_failures[] = {
        "Bad SPI",           "Authentication failed", "Decompression failed",
        "Decryption failed", "Need authentication",   "Need authorization",
    };
    const char* unknown = "unknown";
    switch (type) {
        case 3: return dense_name(unreachable, code, unknown);
        case 5: return dense_name(redirect, code, unknown);
        case 6: return dense_name(alternate_host, code, unknown);
        case 11: return dense_name(time_exceeded, code, unknown);
        case 12: return dense_name(parameter_problem, code, unknown);
        case 40: return dense_name(security_failures, code, unknown);
        default: return nullptr;
    }
}

static void print_identifier_line(decode_context& cx, const uint8_t* h) {
    field(cx, "identifier", "  Identifier: %d", get_be16(cx, h + 4));
    field(cx, "seq", ", Seq.: %d\n", get_be16(cx, h + 6));
}

static void print_type_fields(decode_context& cx, const uint8_t* h, uint8_t type) {
    switch (type) {
        case 0:
        case 8:
        case 15:
        case 16:
        case 17:
        case 18:
        case 37: print_identifier_line(cx, h); break;
        case 5: {
            need(cx, h + 4, 4);
            field(cx, "gateway", "  Gateway IP: %s\n", ipv4_text(cx, h + 4));
            break;
        }
        case 12: field(cx, "pointer", "  Pointer: %d\n", get_u8(cx, h + 4)); break;
        case 13:
        case 14: {
            print_identifier_line(cx, h);
            uint32_t originate = get_be32(cx, h + 8), receive = get_be32(cx, h + 12);
            field(cx, "originate_timestamp", "  Originate Timestamp: %u", originate);
            field(cx, "receive_timestamp", ", Receive Timestamp: %u\n", receive);
            field(cx, "transmit_timestamp", "  Transmit Timestamp: %u\n", get_be32(cx, h + 16));
            break;
        }
        case 38:
            print_identifier_line(cx, h);
            field(cx, "ttl", "  Time-To-Live: %u\n", get_be32(cx, h + 8));
            break;
        case 40: field(cx, "pointer", "  Pointer: %d\n", get_be16(cx, h + 6)); break;
        default: break;
    }
}

int decode_icmpv4(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    layer(cx, "icmp", "- ICMPv4 Header -");
    need(cx, h, 4);
    uint8_t type = h[0];
    uint8_t code = h[1];
    uint16_t checksum = get_be16(cx, h + 2);
    field(cx, "type", "\n  Type: %d", type);
    if (verbose()) print_name(cx, "type", type_name(type));
    if (type == 18)
        field(cx, "code", "\n  Subnet-Mask-Length: %d", code);
    else
        field(cx, "code", "\n  Code: %d", code);
    if (verbose()) {
        const char* name = code_name_of(type, code);
        if (name) print_name(cx, "code", name);
    }
    field(cx, "checksum", "\n  Checksum: 0x%04x", checksum);
    if (settings.calc_checksums && checksum_judgeable(cx)) {
        // The message ends with the IP payload; frame padding never counts.
        size_t length = ip_message_length(cx, h);
        if (length >= 4)
            print_checksum_verdict(cx, checksum, expected_checksum(cx, h, length, 2), cx.counters.icmpv4_bad);
    }
    zelk_printf(cx.out, "\n");
    print_type_fields(cx, h, type);
    // Error messages quote the datagram that caused them; its text shows
    // when expanded and is always recorded.
    bool error = type == 3 || type == 4 || type == 5 || type == 11 || type == 12;
    if (error && expanded(false)) decode_icmp_quote(cx, h + 8, type_name(type));
    bump(cx.counters.icmpv4);
    return 0;
}
