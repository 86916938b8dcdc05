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

void print_frame_control_name(uint8_t fc) {
    if (!verbose()) return;
    if (const char* name = find_name(frame_controls, fc, nullptr)) {
        print_name("frame_control", name);
    } else if (const char* kind = find_name(frame_classes, fc >> 4, nullptr)) {
        char text[16];
        snprintf(text, sizeof text, "%s%1x", kind, fc & 0x0f);
        print_name("frame_control", text);
    }
}

}  // namespace

int decode_fddi(const frame_lengths* lengths, const uint8_t* frame, unsigned) {
    layer("fddi", "\n- FDDI Header -");
    if (lengths->captured_length < header_length) {
        zelk_printf("\nError: Captured data length(%d bytes) < FDDI packet header length.\n",
                    static_cast<int>(lengths->captured_length));
        record_text("error", "frame shorter than the FDDI header");
        bump(counters.fddi_short);
        zelk_printf("\n");
        return 0;
    }
    need(frame, header_length);
    if (expanded(settings.expand_fddi)) {
        field("frame_control", "\n  Frame Control: 0x%02x", frame[0]);
        print_frame_control_name(frame[0]);
        field("dst", "\n  MAC Dst: %s", zelk_mac_to_text(frame + 1));
        if (verbose()) print_mac_vendor(frame + 1, "dst_vendor");
        field("src", "\n  MAC Src: %s", zelk_mac_to_text(frame + 7));
        if (verbose()) print_mac_vendor(frame + 7, "src_vendor");
    }
    bump(counters.fddi);
    zelk_printf("\n");
    return 0;
}
