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
void flag_field(decode_context& cx, const char* key, field_format<const char*> format, bool set) {
    if (recording())
        record_flag(cx, key, set);
    else
        field(cx, key, format, true_false(set));
}

}  // namespace

int decode_token_ring(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    layer(cx, "token_ring", "\n- TokenRing Header -");
    if (lengths->captured_length < header_length) {
        zelk_printf(cx.out, "\nError: Captured data length(%d bytes) < TokenRing packet header length.\n",
                    static_cast<int>(lengths->captured_length));
        record_text(cx, "error", "frame shorter than the Token Ring header");
        bump(cx.counters.token_ring_short);
        zelk_printf(cx.out, "\n");
        return 0;
    }
    need(cx, frame, header_length);
    uint8_t ac = frame[0], fc = frame[1];
    unsigned type = fc >> 6, pcf = fc & 0x0f;
    bool source_routed = frame[8] & 0x80;

    if (expanded(settings.expand_token)) {
        field(cx, "access_control", "\n  Access Control: 0x%02x", ac);
        field(cx, "priority", "\n  Priority: %u", ac & 0xe0);
        flag_field(cx, "token", ", Token: %s", ac & 0x10);
        flag_field(cx, "monitor", "\n  Monitor: %s", ac & 0x08);
        field(cx, "reservation", ", Reservation: %u", ac & 0x07);
        field(cx, "frame_control", "\n  Frame Control: 0x%02x", fc);
        field(cx, "type", "\n  Type: %u", type);
        print_name(cx, "type", frame_types[type]);
        field(cx, "pcf", ", PCF: %u", pcf);
        print_name(cx, "pcf", dense_name(physical_controls, pcf, "unknown"));
        field(cx, "dst", "\n  MAC Dst: %s", zelk_mac_to_text(frame + 2));
        if (verbose()) print_mac_vendor(cx, frame + 2, "dst_vendor");
        field(cx, "src", "\n  MAC Src: %s", zelk_mac_to_text(frame + 8));
        if (verbose()) print_mac_vendor(cx, frame + 8, "src_vendor");
        flag_field(cx, "source_routed", "\n  Src Routed: %s", source_routed);
    }
    bump(cx.counters.token_ring);

    // Behind a routing field the LLC header is not where the link header
    // length says, so only plain LLC frames are decoded further.
    if (type == 1 && !source_routed)
        decode_llc(cx, lengths, frame, offset, static_cast<uint16_t>(lengths->captured_length));
    zelk_printf(cx.out, "\n");
    return 0;
}
