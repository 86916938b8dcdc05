#include "decode/decoder.h"
#include "decode/ip/ipv4.h"
#include "decode/ip/ipv6.h"
#include "decode/ip/ipx.h"
#include "decode/link/arp.h"
#include "decode/link/cisco.h"
#include "decode/link/ethernet.h"
#include "decode/link/lldp.h"
#include "decode/link/mop.h"
#include "decode/link/ppp.h"
#include "decode/link/pppoe.h"
#include "decode/link/qinq.h"
#include "decode/link/slow_protocols.h"
#include "decode/routing/mpls.h"

int decode_ethertype(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset,
                     uint16_t type) {
    nesting_guard nested(cx);
    switch (type) {
        case 0x0800: decode_ipv4(cx, lengths, frame, offset); break;
        case 0x86dd: decode_ipv6(cx, lengths, frame, offset); break;
        case 0x0806:  // ARP
        case 0x8035:  // reverse ARP
            decode_arp(cx, frame, offset);
            break;
        case 0x8137: decode_ipx(cx, frame, offset); break;
        case 0x6001: decode_mop(cx, frame, offset); break;
        case 0x8102: decode_bofl(cx, lengths, frame, offset); break;
        case 0x880b: decode_ppp(cx, lengths, frame, offset); break;
        case 0x8847:  // MPLS unicast
        case 0x8848:  // MPLS multicast
            decode_mpls(cx, frame, offset);
            break;
        case 0x8863:  // PPPoE discovery stage
        case 0x8864:  // PPPoE session stage
            decode_pppoe(cx, lengths, frame, offset);
            break;
        case 0x88cc: decode_lldp(cx, lengths, frame, offset); break;
        case 0x8809: decode_slow_protocols(cx, lengths, frame, offset); break;
        case 0x88a8:  // 802.1ad service tag
        case 0x9100:  // its pre-standard EtherType
            decode_qinq(cx, lengths, frame, offset, type);
            break;
        default: zelk_printf(cx.out, "\n"); break;
    }
    (void)lengths;
    (void)frame;
    (void)offset;
    return 0;
}
