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

// Printed True/False, recorded as a JSON boolean.
void flag_field(const char* key, field_format<const char*> format, bool set) {
    if (recording())
        record_flag(key, set);
    else
        field(key, format, true_false(set));
}

}  // namespace

int decode_token_ring(const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    layer("token_ring", "\n- TokenRing Header -");
    if (lengths->captured_length < header_length) {
        zelk_printf("\nError: Captured data length(%d bytes) < TokenRing packet header length.\n",
                    static_cast<int>(lengths->captured_length));
        record_text("error", "frame shorter than the Token Ring header");
        bump(counters.token_ring_short);
        zelk_printf("\n");
        return 0;
    }
    need(frame, header_length);
    uint8_t ac = frame[0], fc = frame[1];
    unsigned type = fc >> 6, pcf = fc & 0x0f;
    bool source_routed = frame[8] & 0x80;

    if (expanded(settings.expand_token)) {
        field("access_control", "\n  Access Control: 0x%02x", ac);
        field("priority", "\n  Priority: %u", ac & 0xe0);
        flag_field("token", ", Token: %s", ac & 0x10);
        flag_field("monitor", "\n  Monitor: %s", ac & 0x08);
        field("reservation", ", Reservation: %u", ac & 0x07);
        field("frame_control", "\n  Frame Control: 0x%02x", fc);
        field("type", "\n  Type: %u", type);
        print_name("type", frame_types[type]);
        field("pcf", ", PCF: %u", pcf);
        print_name("pcf", dense_name(physical_controls, pcf, "unknown"));
        field("dst", "\n  MAC Dst: %s", zelk_mac_to_text(frame + 2));
        if (verbose()) print_mac_vendor(frame + 2, "dst_vendor");
        field("src", "\n  MAC Src: %s", zelk_mac_to_text(frame + 8));
        if (verbose()) print_mac_vendor(frame + 8, "src_vendor");
        flag_field("source_routed", "\n  Src Routed: %s", source_routed);
    }
    bump(counters.token_ring);

    // Behind a routing field the LLC header is not where the link header
    // length says, so only plain LLC frames are decoded further.
    if (type == 1 && !source_routed)
        decode_llc(lengths, frame, offset, static_cast<uint16_t>(lengths->captured_length));
    zelk_printf("\n");
    return 0;
}
