#include "decode/link/ppp.h"

#include "decode/decoder.h"
#include "decode/ip/ipv4.h"
#include "decode/ip/ipv6.h"
#include "decode/ip/ipx.h"
#include "decode/link/llc.h"
#include "decode/link/ppp_control.h"

namespace {

constexpr code_name ppp_protocols[] = {
    {0x0021, "IPv4"},
    {0x0029, "AppleTalk"},
    {0x002b, "IPX"},
    {0x002d, "Compressed TCP"},
    {0x002f, "Uncompressed TCP"},
    {0x004b, "SNACP"},
    {0x0057, "IPv6"},
    {0x8021, "IPv4 Control Protocol"},
    {0x8029, "AppleTalk Control Protocol"},
    {0x802b, "IPX Control Protocol"},
    {0x8031, "BCP"},
    {0x8041, "PPP-LEX"},
    {0x8053, "Encryption Control Protocol"},
    {0x8057, "IPv6 Control Protocol"},
    {0x80fd, "CCP"},
    {0xc021, "LCP"},
    {0xc023, "PAP"},
    {0xc025, "Link Quality Report"},
    {0xc02d, "BAP"},
    {0xc223, "CHAP"},
};

// Unlisted protocols are named by the range they fall in.
const char* ppp_protocol_name(uint16_t protocol) {
    const char* name = find_name(ppp_protocols, protocol, nullptr);
    if (name) return name;
    if (protocol >= 0x0001 && protocol <= 0x001f) return "unknown reserved";
    if (protocol >= 0x0020 && protocol <= 0x3fff) return "unknown network layer";
    if (protocol >= 0x4000 && protocol <= 0x7fff) return "unknown free/low bandwidth";
    if (protocol >= 0x8000 && protocol <= 0xbfff) return "unknown NCP";
    return "unknown LCP";
}

}  // namespace

int decode_ppp(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    const uint8_t* p = header_at(cx, frame, offset);
    // Protocol-field compression: two-byte protocols have an even first
    // byte, so an odd one is a protocol sent in one byte.
    unsigned field_length = get_u8(cx, p) & 1 ? 1 : 2;
    uint16_t protocol = field_length == 1 ? get_u8(cx, p) : get_be16(cx, p);
    layer(cx, "ppp", "- PPP Header -\n");
    field(cx, "protocol", "  Protocol: 0x%x", protocol);
    print_name(cx, "protocol", ppp_protocol_name(protocol));
    if (field_length == 1) record_flag(cx, "protocol_compressed", true);

    unsigned next = offset + field_length;
    switch (protocol) {
        case 0x0021: decode_ipv4(cx, lengths, frame, next); break;
        case 0x002b: decode_ipx(cx, frame, next); break;
        case 0x004b:
            decode_llc(cx, lengths, frame, next, static_cast<uint16_t>(lengths->captured_length - next));
            break;
        case 0x0057: decode_ipv6(cx, lengths, frame, next); break;
        case 0x8021: decode_ipcp(cx, frame, next); break;
        case 0x8029: decode_atcp(cx, frame, next); break;
        case 0x802b: decode_ipxcp(cx, frame, next); break;
        case 0x8053: decode_ecp(cx, frame, next); break;
        case 0x8057: decode_ipv6cp(cx, frame, next); break;
        case 0x80fd: decode_ccp(cx, frame, next); break;
        case 0xc021: decode_lcp(cx, frame, next); break;
        case 0xc023: decode_pap(cx, frame, next); break;
        case 0xc025: decode_lqr(cx, frame, next); break;
        case 0xc223: decode_chap(cx, frame, next); break;
        default: break;
    }
    bump(cx.counters.ppp);
    return 0;
}

int decode_ppp_link(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    // The protocol field sits behind address and control when they are
    // present, at the frame start when the link compressed them away.
    unsigned in_front = get_u8(cx, frame + offset) == 0xff ? 2 : 0;
    inner_frame_view per_frame(cx, nullptr, in_front);
    return decode_ppp(cx, lengths, frame, offset);
}
