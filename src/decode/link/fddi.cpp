#include "decode/link/fddi.h"

#include <cstdio>

#include "decode/decoder.h"
#include "decode/link/ethernet.h"

namespace {

constexpr unsigned header_length = 13;

constexpr code_name frame_controls[] = {
    {0x40, "void frame"},      {0x80, "non-restricted token"},     {0xc0, "restricted token"},
    {0x41, "SMT info"},        {0x4f, "SMT next station address"}, {0xc2, "MAC beacon frame"},
    {0xc3, "MAC claim frame"},
};

// Frame classes by the high nibble; the low nibble is printed behind.
constexpr code_name frame_classes[] = {
    {0xc, "mac"}, {0x4, "smt"}, {0x5, "async"}, {0xd, "sync"}, {0x6, "imp async"}, {0xe, "imp sync"},
};

void print_frame_control_name(decode_context& cx, uint8_t fc) {
    if (!verbose()) return;
    if (const char* name = find_name(frame_controls, fc, nullptr)) {
        print_name(cx, "frame_control", name);
    } else if (const char* kind = find_name(frame_classes, fc >> 4, nullptr)) {
        char text[16];
        snprintf(text, sizeof text, "%s%1x", kind, fc & 0x0f);
        print_name(cx, "frame_control", text);
    }
}

}  // namespace

int decode_fddi(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned) {
    layer(cx, "fddi", "\n- FDDI Header -");
    if (lengths->captured_length < header_length) {
        zelk_printf(cx.out, "\nError: Captured data length(%d bytes) < FDDI packet header length.\n",
                    static_cast<int>(lengths->captured_length));
        record_text(cx, "error", "frame shorter than the FDDI header");
        bump(cx.counters.fddi_short);
        zelk_printf(cx.out, "\n");
        return 0;
    }
    need(cx, frame, header_length);
    if (expanded(settings.expand_fddi)) {
        field(cx, "frame_control", "\n  Frame Control: 0x%02x", frame[0]);
        print_frame_control_name(cx, frame[0]);
        field(cx, "dst", "\n  MAC Dst: %s", zelk_mac_to_text(frame + 1));
        if (verbose()) print_mac_vendor(cx, frame + 1, "dst_vendor");
        field(cx, "src", "\n  MAC Src: %s", zelk_mac_to_text(frame + 7));
        if (verbose()) print_mac_vendor(cx, frame + 7, "src_vendor");
    }
    bump(cx.counters.fddi);
    zelk_printf(cx.out, "\n");
    return 0;
}
