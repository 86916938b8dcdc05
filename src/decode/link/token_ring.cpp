#include "decode/link/token_ring.h"

#include "decode/decoder.h"
#include "decode/link/ethernet.h"
#include "decode/link/llc.h"

namespace {

constexpr unsigned header_length = 14;

constexpr const char* frame_types[] = {"MAC", "LLC", "Reserved", "unknown"};

constexpr const char* physical_controls[] = {
    "Normal buffer",          "Express buffer",          "Purge", "Claim token", "Beacon",
    "Active monitor present", "Standby monitor present",
};

const char* true_false(bool set) { return set ? "True" : "False"; }

void print_mac_line(const char* label, const uint8_t* mac) {
    zelk_printf("\n  MAC %s: %s", label, zelk_mac_to_text(mac));
    if (settings.verbose) print_mac_vendor(mac);
}

}  // namespace

int decode_token_ring(const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    zelk_printf("\n- TokenRing Header -");
    if (lengths->captured_length < header_length) {
        zelk_printf("\nError: Captured data length(%d bytes) < TokenRing packet header length.\n",
                    static_cast<int>(lengths->captured_length));
        bump(counters.token_ring_short);
        zelk_printf("\n");
        return 0;
    }
    need(frame, header_length);
    uint8_t ac = frame[0], fc = frame[1];
    unsigned type = fc >> 6, pcf = fc & 0x0f;
    bool source_routed = frame[8] & 0x80;

    if (expanded(settings.expand_token)) {
        zelk_printf("\n  Access Control: 0x%02x", ac);
        zelk_printf("\n  Priority: %u, Token: %s", ac & 0xe0, true_false(ac & 0x10));
        zelk_printf("\n  Monitor: %s, Reservation: %u", true_false(ac & 0x08), ac & 0x07);
        zelk_printf("\n  Frame Control: 0x%02x", fc);
        zelk_printf("\n  Type: %u", type);
        print_name(frame_types[type]);
        zelk_printf(", PCF: %u", pcf);
        print_name(dense_name(physical_controls, pcf, "unknown"));
        print_mac_line("Dst", frame + 2);
        print_mac_line("Src", frame + 8);
        zelk_printf("\n  Src Routed: %s", true_false(source_routed));
    }
    bump(counters.token_ring);

    // Behind a routing field the LLC header is not where the link header
    // length says, so only plain LLC frames are decoded further.
    if (type == 1 && !source_routed)
        decode_llc(lengths, frame, offset, static_cast<uint16_t>(lengths->captured_length));
    zelk_printf("\n");
    return 0;
}
