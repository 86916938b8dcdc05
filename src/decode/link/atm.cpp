#include "decode/link/atm.h"

#include <cstring>

#include "decode/decoder.h"
#include "decode/ip/ipv4.h"
#include "decode/link/ethernet.h"
#include "decode/link/llc.h"

int decode_atm_rfc1483(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    layer(cx, "atm_rfc1483", "\n- ATM RFC1483 PDU -");
    decode_llc(cx, lengths, frame, offset, 0);
    bump(cx.counters.atm_rfc1483);
    return 0;
}

int decode_atm_clip(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    // Only LLC/SNAP with the Ethernet OUI counts as encapsulated; anything
    // else is taken for an IPv4 datagram.
    static const uint8_t llc_snap_ethernet[] = {0xaa, 0xaa, 0x03, 0x00, 0x00, 0x00};
    bool with_llc = in_frame(cx, frame, sizeof llc_snap_ethernet) &&
                    memcmp(frame, llc_snap_ethernet, sizeof llc_snap_ethernet) == 0;
    if (with_llc) {
        layer(cx, "atm_clip", "\n- Classical-IP over ATM(with LLC) -");
        field(cx, "dsap", "  DSAP: 0x%02x", frame[0]);
        field(cx, "ssap", ", SSAP: 0x%02x", frame[1]);
        field(cx, "control", ", Control: 0x%02x\n", frame[2]);
        uint32_t oui = (uint32_t{frame[3]} << 16) | (uint32_t{frame[4]} << 8) | frame[5];
        uint16_t type = get_be16(cx, frame + 6);
        field(cx, "oui", "  OUI: 0x%06x", oui);
        field(cx, "type", ", Type: 0x%04x", type);
        if (verbose()) print_ethertype_name(cx, type);
        bump(cx.counters.atm_clip_llc);
        decode_ethertype(cx, lengths, frame, offset + 8, type);
    } else {
        layer(cx, "atm_clip", "\n- Classical-IP over ATM(without LLC) -");
        decode_ipv4(cx, lengths, frame, offset);
        bump(cx.counters.atm_clip);
    }
    return 0;
}
