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

int decode_ethertype(const frame_lengths* lengths, const uint8_t* frame, unsigned offset, uint16_t type) {
    switch (type) {
        case 0x0800:
            decode_ipv4(lengths, frame, offset);
            break;
        case 0x86dd:
            decode_ipv6(lengths, frame, offset);
            break;
        case 0x0806:  // ARP
        case 0x8035:  // reverse ARP
            decode_arp(frame, offset);
            break;
        case 0x8137:
            decode_ipx(frame, offset);
            break;
        case 0x6001:
            decode_mop(frame, offset);
            break;
        case 0x8102:
            decode_bofl(lengths, frame, offset);
            break;
        case 0x880b:
            decode_ppp(lengths, frame, offset);
            break;
        case 0x8847:  // MPLS unicast
        case 0x8848:  // MPLS multicast
            decode_mpls(frame, offset);
            break;
        case 0x8863:  // PPPoE discovery stage
        case 0x8864:  // PPPoE session stage
            decode_pppoe(lengths, frame, offset);
            break;
        case 0x88cc:
            decode_lldp(lengths, frame, offset);
            break;
        case 0x8809:
            decode_slow_protocols(lengths, frame, offset);
            break;
        case 0x88a8:  // 802.1ad service tag
        case 0x9100:  // its pre-standard EtherType
            decode_qinq(lengths, frame, offset, type);
            break;
        default:
            zelk_printf("\n");
            break;
    }
    (void)lengths;
    (void)frame;
    (void)offset;
    return 0;
}
