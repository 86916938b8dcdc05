#include "decode/link/slip.h"

#include "decode/decoder.h"
#include "decode/ip/ipv4.h"
#include "decode/ip/ipv6.h"

namespace {
constexpr uint8_t slip_end = 0xc0;
}

int decode_slip(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    const uint8_t* s = header_at(cx, frame, offset);
    if (get_u8(cx, s) == slip_end && get_u8(cx, s + 12) == slip_end) {
        layer(cx, "slip", "Received SLIP Packet: \n");
        unsigned version = get_u8(cx, s + 1) >> 4;
        if (version == 4) {
            decode_ipv4(cx, lengths, frame, offset + 1);
        } else if (version == 6) {
            decode_ipv6(cx, lengths, frame, offset + 1);
        } else {
            field(cx, "ip_version", "Unknown IP version: %d.\n", version);
            record_text(cx, "error", "unknown IP version");
        }
    }
    return 0;
}
