#include "capture/frame.h"

#include "decode/decoder.h"
#include "decode/ip/ip.h"
#include "decode/link/atm.h"
#include "decode/link/cisco.h"
#include "decode/link/ethernet.h"
#include "decode/link/fddi.h"
#include "decode/link/ieee80211.h"
#include "decode/link/linux_cooked.h"
#include "decode/link/ppp.h"
#include "decode/link/pppoe.h"
#include "decode/link/radiotap.h"
#include "decode/link/slip.h"
#include "decode/link/token_ring.h"
#include "output/record.h"

capture_state_record capture;

// Indexed by link_decoder_index; decoders not built in stay empty and a
// frame of their link type is announced but not decoded.
const link_decoder link_decoders[link_decoder_count] = {
    decode_ethernet,       // 0 Ethernet
    decode_ppp_link,       // 1 PPP
    decode_pppoe,          // 2 PPPoE
    decode_linux_cooked,   // 3 Linux cooked capture
    decode_ieee80211,      // 4 IEEE 802.11
    decode_prism,          // 5 Prism monitor header
    decode_ip_version,     // 6 IP version dispatch
    decode_slip,           // 7 SLIP
    decode_token_ring,     // 8 Token Ring
    decode_fddi,           // 9 FDDI
    decode_atm_rfc1483,    // 10 ATM RFC 1483
    decode_atm_clip,       // 11 Classical IP over ATM
    decode_cisco_hdlc,     // 12 Cisco HDLC
    decode_radiotap,       // 13 802.11 behind a radiotap header
    decode_linux_cooked2,  // 14 Linux cooked capture, version 2
};

bool link_type_lookup(int link_type, unsigned* header_length, uint16_t* decoder_index) {
    static const struct {
        int type;
        unsigned header_length;
        uint16_t decoder;
    } table[] = {
        {0, 4, 6},      // DLT_NULL
        {1, 14, 0},     // DLT_EN10MB
        {2, 14, 0},     // DLT_EN3MB
        {6, 14, 8},     // DLT_IEEE802
        {8, 16, 7},     // DLT_SLIP
        {9, 4, 1},      // DLT_PPP
        {10, 21, 9},    // DLT_FDDI
        {11, 0, 10},    // DLT_ATM_RFC1483
        {12, 0, 6},     // DLT_RAW
        {19, 0, 11},    // DLT_ATM_CLIP
        {51, 0, 2},     // DLT_PPP_ETHER: frames begin with the PPPoE header
        {104, 4, 12},   // DLT_C_HDLC
        {105, 0, 4},    // DLT_IEEE802_11
        {113, 0, 3},    // DLT_LINUX_SLL
        {119, 144, 5},  // DLT_PRISM_HEADER
        {127, 0, 13},   // DLT_IEEE802_11_RADIO
        {228, 0, 6},    // DLT_IPV4
        {229, 0, 6},    // DLT_IPV6
        {276, 0, 14},   // DLT_LINUX_SLL2
    };
    for (const auto& row : table) {
        if (row.type == link_type) {
            *header_length = row.header_length;
            *decoder_index = row.decoder;
            return true;
        }
    }
    return false;
}

void decode_frame(decode_context& cx, link_decoder decoder, const frame_lengths* lengths, const uint8_t* frame) {
    cx.start = frame;
    cx.end = frame + lengths->captured_length;
    cx.wire_length = lengths->wire_length;
    cx.ip_payload_end = cx.end;
    cx.ip_payload_cut = false;
    cx.pseudo = {};
    cx.tcp_stream_ip_header = nullptr;
    cx.depth = 0;
    if (!decoder) return;
    cx.decoding = true;
    try {
        decoder(cx, lengths, frame, 0);
        cx.decoding = false;
    } catch (const nested_too_deep&) {
        cx.decoding = false;
        mark_frame_cut(cx, true);
        zelk_printf(cx.out, "\n  [malformed: nesting deeper than %u]\n", max_nesting);
    } catch (const truncated&) {
        cx.decoding = false;
        mark_frame_cut(cx, lengths->captured_length >= lengths->wire_length);
        if (lengths->captured_length < lengths->wire_length)
            zelk_printf(cx.out, "\n  [truncated: captured %u of %u bytes]\n", lengths->captured_length,
                        lengths->wire_length);
        else
            zelk_printf(cx.out, "\n  [malformed: a header runs past the end of the %u-byte frame]\n",
                        lengths->captured_length);
    }
}
