#include "decode/link/linux_cooked.h"

#include "decode/decoder.h"
#include "decode/ip/ipx.h"
#include "decode/link/ethernet.h"
#include "decode/link/llc.h"

namespace {
constexpr unsigned cooked_header_length = 16;
// Protocol values below the EtherType range name the kernel's own kinds.
constexpr uint16_t cooked_802_2 = 1;  // an 802.2 LLC frame
constexpr uint16_t cooked_ipx = 4;    // Novell raw 802.3
}  // namespace

int decode_linux_cooked(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    uint16_t protocol = get_be16(cx, header_at(cx, frame, offset) + 14);
    // No text of its own; the record still shows the protocol field.
    layer(cx, "linux_cooked", "");
    record_number(cx, "protocol", protocol);
    unsigned next = offset + cooked_header_length;
    if (protocol > 0x0600)
        decode_ethertype(cx, lengths, frame, next, protocol);
    else if (protocol == cooked_802_2)
        decode_llc(cx, lengths, frame, next, 1);
    else if (protocol == cooked_ipx)
        decode_ipx(cx, frame, next);
    return 0;
}
