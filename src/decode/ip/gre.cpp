#include "decode/ip/gre.h"

#include "decode/decoder.h"
#include "decode/link/ethernet.h"

int decode_gre(const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    uint16_t flags = get_be16(h);
    unsigned version = flags & 0x7;
    if (version > 1) {
        zelk_printf("- Not supported GRE(%d) version -\n", version);
        return 0;
    }
    zelk_printf("- GREv%u Header -\n  Version: %d\n", version, version);
    // Each flag shows the value of its masked bits.
    zelk_printf("  Checksum present: %d, Routing present: %d, Key present: %d\n", flags & 0x8000, flags & 0x4000,
                flags & 0x2000);
    zelk_printf("  Sequence present: %d, Strict source route: %d, Recursion control: %d\n", flags & 0x1000,
                flags & 0x0800, flags & 0x0700);
    if (version == 1) zelk_printf("  Acknowledgement present: %d\n", flags & 0x0080);
    uint16_t protocol = get_be16(h + 2);
    zelk_printf("  Protocol: 0x%04x", protocol);
    if (settings.verbose) print_ethertype_name(protocol);
    zelk_printf("\n");
    bump(version == 0 ? counters.grev0 : counters.grev1);
    // Optional checksum, key, sequence and routing fields are not skipped.
    decode_ethertype(lengths, frame, offset + 4, protocol);
    return 0;
}
