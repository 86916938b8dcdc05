#include "decode/ip/gre.h"

#include "decode/decoder.h"
#include "decode/link/ethernet.h"

int decode_gre(const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    uint16_t flags = get_be16(h);
    unsigned version = flags & 0x7;
    if (version > 1) {
        layer("gre", "");
        field("version", "- Not supported GRE(%d) version -\n", version);
        record_text("error", "not supported GRE version");
        return 0;
    }
    layer("gre", version == 0 ? "- GREv0 Header -" : "- GREv1 Header -");
    field("version", "\n  Version: %d\n", version);
    // Each flag shows the value of its masked bits.
    field("checksum_present", "  Checksum present: %d", flags & 0x8000);
    field("routing_present", ", Routing present: %d", flags & 0x4000);
    field("key_present", ", Key present: %d\n", flags & 0x2000);
    field("sequence_present", "  Sequence present: %d", flags & 0x1000);
    field("strict_source_route", ", Strict source route: %d", flags & 0x0800);
    field("recursion_control", ", Recursion control: %d\n", flags & 0x0700);
    if (version == 1) field("acknowledgement_present", "  Acknowledgement present: %d\n", flags & 0x0080);
    uint16_t protocol = get_be16(h + 2);
    field("protocol", "  Protocol: 0x%04x", protocol);
    if (verbose()) {
        const char* name = ethertype_name(protocol);
        print_name("protocol", name ? name : "unknown type");
    }
    zelk_printf("\n");
    bump(version == 0 ? counters.grev0 : counters.grev1);
    // Optional checksum, key, sequence and routing fields are not skipped.
    decode_ethertype(lengths, frame, offset + 4, protocol);
    return 0;
}
