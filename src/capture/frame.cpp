#include "capture/frame.h"

#include "decode/decoder.h"
#include "decode/link/ethernet.h"

current_frame_record current_frame;
capture_state_record capture;

// Indexed by link_decoder_index; decoders not built in stay empty and a
// frame of their link type is announced but not decoded.
const link_decoder link_decoders[link_decoder_count] = {
    decode_ethernet,  // 0 Ethernet
    nullptr,          // 1 PPP
    nullptr,          // 2 PPPoE
    nullptr,          // 3 Linux cooked capture
    nullptr,          // 4 IEEE 802.11
    nullptr,          // 5 Prism monitor header
    nullptr,          // 6 IP version dispatch
    nullptr,          // 7 SLIP
    nullptr,          // 8 Token Ring
    nullptr,          // 9 FDDI
    nullptr,          // 10 ATM RFC 1483
    nullptr,          // 11 Classical IP over ATM
    nullptr,          // 12 Cisco HDLC
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
        {51, 14, 2},    // DLT_PPP_ETHER
        {104, 4, 12},   // DLT_C_HDLC
        {105, 0, 4},    // DLT_IEEE802_11
        {113, 0, 3},    // DLT_LINUX_SLL
        {119, 144, 5},  // DLT_PRISM_HEADER
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

void decode_frame(link_decoder decoder, const frame_lengths* lengths, const uint8_t* frame) {
    current_frame.start = frame;
    current_frame.end = frame + lengths->captured_length;
    current_frame.wire_length = lengths->wire_length;
    current_frame.ip_payload_end = current_frame.end;
    current_frame.ip_payload_cut = false;
    if (!decoder) return;
    try {
        decoder(lengths, frame, 0);
    } catch (const truncated&) {
        if (lengths->captured_length < lengths->wire_length)
            zelk_printf("\n  [truncated: captured %u of %u bytes]\n", lengths->captured_length, lengths->wire_length);
        else
            zelk_printf("\n  [malformed: a header runs past the end of the %u-byte frame]\n",
                        lengths->captured_length);
    }
}
