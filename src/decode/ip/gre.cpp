#include "decode/ip/gre.h"

#include "decode/decoder.h"
#include "decode/link/ethernet.h"

namespace {

// No row of the statistics report counts bad GRE checksums.
uint32_t uncounted_bad_checksums;

// The routing field of RFC 1701: source route entries up to a null one.
// Returns its length.
unsigned skip_routing(decode_context& cx, const uint8_t* p) {
    unsigned length = 0;
    for (int steps = 0; steps < 64; ++steps) {
        uint8_t entry_length = get_u8(cx, p + length + 3);
        length += 4u + entry_length;
        if (entry_length == 0) break;
    }
    return length;
}

// The fields behind the fixed four bytes that the flags announce (RFC 2784,
// 2890; version 1: RFC 2637); returns their length.
unsigned print_optional_fields(decode_context& cx, const uint8_t* h, uint16_t flags, unsigned version) {
    const uint8_t* p = h + 4;
    if (flags & 0xc000) {
        uint16_t checksum = get_be16(cx, p);
        field(cx, "checksum", "  Checksum: 0x%04x", checksum);
        // Over the GRE header and its payload, to the end of the IP payload.
        size_t length = ip_message_length(cx, h);
        if (settings.calc_checksums && (flags & 0x8000) && checksum_judgeable(cx) && length >= 6)
            print_checksum_verdict(cx, checksum, expected_checksum(cx, h, length, 4), uncounted_bad_checksums, "\n");
        else
            zelk_printf(cx.out, "\n");
        if (flags & 0x4000) field(cx, "routing_offset", "  Offset: %u\n", static_cast<unsigned>(get_be16(cx, p + 2)));
        p += 4;
    }
    if (flags & 0x2000) {
        if (version == 1) {
            field(cx, "payload_length", "  Payload Length: %u", static_cast<unsigned>(get_be16(cx, p)));
            field(cx, "call_id", ", Call ID: %u\n", static_cast<unsigned>(get_be16(cx, p + 2)));
        } else {
            field(cx, "key", "  Key: 0x%08x\n", get_be32(cx, p));
        }
        p += 4;
    }
    if (flags & 0x1000) {
        field(cx, "seq", "  Sequence Number: %u\n", get_be32(cx, p));
        p += 4;
    }
    if (version == 1 && (flags & 0x0080)) {
        field(cx, "ack", "  Acknowledgement Number: %u\n", get_be32(cx, p));
        p += 4;
    }
    if (version == 0 && (flags & 0x4000)) {
        unsigned routing = skip_routing(cx, p);
        record_number(cx, "routing_length", routing);
        p += routing;
    }
    return static_cast<unsigned>(p - h - 4);
}

}  // namespace

int decode_gre(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    uint16_t flags = get_be16(cx, h);
    unsigned version = flags & 0x7;
    if (version > 1) {
        layer(cx, "gre", "");
        field(cx, "version", "- Not supported GRE(%d) version -\n", version);
        record_text(cx, "error", "not supported GRE version");
        return 0;
    }
    layer(cx, "gre", version == 0 ? "- GREv0 Header -" : "- GREv1 Header -");
    field(cx, "version", "\n  Version: %d\n", version);
    // Each flag shows the value of its masked bits.
    field(cx, "checksum_present", "  Checksum present: %d", flags & 0x8000);
    field(cx, "routing_present", ", Routing present: %d", flags & 0x4000);
    field(cx, "key_present", ", Key present: %d\n", flags & 0x2000);
    field(cx, "sequence_present", "  Sequence present: %d", flags & 0x1000);
    field(cx, "strict_source_route", ", Strict source route: %d", flags & 0x0800);
    field(cx, "recursion_control", ", Recursion control: %d\n", flags & 0x0700);
    if (version == 1) field(cx, "acknowledgement_present", "  Acknowledgement present: %d\n", flags & 0x0080);
    uint16_t protocol = get_be16(cx, h + 2);
    field(cx, "protocol", "  Protocol: 0x%04x", protocol);
    if (verbose()) {
        const char* name = settings.record_fields ? ethertype_record_name(protocol) : ethertype_name(protocol);
        print_name(cx, "protocol", name ? name : "unknown type");
    }
    zelk_printf(cx.out, "\n");
    bump(version == 0 ? cx.counters.grev0 : cx.counters.grev1);
    unsigned length = 4 + print_optional_fields(cx, h, flags, version);
    decode_ethertype(cx, lengths, frame, offset + length, protocol);
    return 0;
}
