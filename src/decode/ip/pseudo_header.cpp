#include "decode/ip/pseudo_header.h"

#include <cstring>

#include "decode/decoder.h"

void set_ipv4_pseudo_header(decode_context& cx, const uint8_t* ip, unsigned header_length, uint16_t flags_offset) {
    cx.pseudo = {};
    cx.pseudo.version = 4;
    need(cx, ip, 20);
    memcpy(cx.pseudo.source, ip + 12, 4);
    memcpy(cx.pseudo.destination, ip + 16, 4);
    cx.pseudo.payload = ip + header_length;
    cx.pseudo.fragment = (flags_offset & 0x2000) || (flags_offset & 0x1fff);
    cx.pseudo.known_destination = true;
}

namespace {

// A jumbo payload option (RFC 2675) in the hop-by-hop options at p.
uint32_t jumbo_length(decode_context& cx, const uint8_t* p, size_t length) {
    size_t at = 2;
    for (int steps = 0; at < length && steps < 256; ++steps) {
        if (!in_frame(cx, p + at, 1)) return 0;
        uint8_t type = p[at];
        if (type == 0) {
            ++at;
            continue;
        }
        if (!in_frame(cx, p + at, 2)) return 0;
        uint8_t option_length = p[at + 1];
        if (type == 0xc2 && option_length == 4 && in_frame(cx, p + at + 2, 4)) return get_be32(cx, p + at + 2);
        at += 2u + option_length;
    }
    return 0;
}

// The final destination named by a routing header whose segments are not
// all visited yet; nullptr for a type we cannot read.
const uint8_t* final_destination(decode_context& cx, const uint8_t* routing) {
    uint8_t type = routing[2];
    unsigned addresses = routing[1] / 2u;
    if (addresses == 0) return nullptr;
    const uint8_t* last = nullptr;
    if (type == 0 || type == 2) last = routing + 8 + 16 * (addresses - 1);  // the list ends with it
    if (type == 4) last = routing + 8;                                      // segment routing: list[0]
    return last && in_frame(cx, last, 16) ? last : nullptr;
}

}  // namespace

uint32_t set_ipv6_pseudo_header(decode_context& cx, const uint8_t* ip) {
    cx.pseudo = {};
    cx.pseudo.version = 6;
    need(cx, ip, 40);
    memcpy(cx.pseudo.source, ip + 8, 16);
    memcpy(cx.pseudo.destination, ip + 24, 16);
    cx.pseudo.payload = ip + 40;
    cx.pseudo.known_destination = true;
    bool no_payload_length = get_be16(cx, ip + 4) == 0;
    uint32_t jumbo = 0;
    uint8_t next = ip[6];
    const uint8_t* p = ip + 40;
    // Extension headers only; the walk stops at anything else, at bytes
    // not captured, and after a bounded number of headers.
    for (int steps = 0; steps < 16 && in_frame(cx, p, 8); ++steps) {
        size_t length;
        switch (next) {
            case 0:
            case 60:
                length = (p[1] + 1u) * 8u;
                if (next == 0 && steps == 0 && no_payload_length) jumbo = jumbo_length(cx, p, length);
                break;
            case 43:
                length = (p[1] + 1u) * 8u;
                if (p[3] > 0) {
                    const uint8_t* last = final_destination(cx, p);
                    if (last)
                        memcpy(cx.pseudo.destination, last, 16);
                    else
                        cx.pseudo.known_destination = false;
                }
                break;
            case 44:
                length = 8;
                // An atomic fragment (offset 0, no more) is a whole datagram.
                if (get_be16(cx, p + 2) & 0xfff9) cx.pseudo.fragment = true;
                break;
            case 51: length = (p[1] + 2u) * 4u; break;
            default: return jumbo;
        }
        next = p[0];
        p += length;
    }
    return jumbo;
}

namespace {

// UDP ports of tunnel protocols that may send a zero checksum over IPv6
// (RFC 6935): VXLAN, Geneve, LISP data and control, GRE- and MPLS-in-UDP.
bool tunnel_port(uint16_t port) {
    static constexpr uint16_t ports[] = {4789, 6081, 4341, 4342, 4754, 6635};
    for (uint16_t p : ports)
        if (p == port) return true;
    return false;
}

// The pseudo-header's sum as zelk_in_cksum takes a start sum.
int pseudo_sum(decode_context& cx, uint8_t protocol, size_t length) {
    uint8_t bytes[40] = {};
    size_t n;
    if (cx.pseudo.version == 4) {
        memcpy(bytes, cx.pseudo.source, 4);
        memcpy(bytes + 4, cx.pseudo.destination, 4);
        bytes[9] = protocol;
        bytes[10] = static_cast<uint8_t>(length >> 8);
        bytes[11] = static_cast<uint8_t>(length);
        n = 12;
    } else {
        memcpy(bytes, cx.pseudo.source, 16);
        memcpy(bytes + 16, cx.pseudo.destination, 16);
        for (int i = 0; i < 4; ++i) bytes[32 + i] = static_cast<uint8_t>(length >> (24 - 8 * i));
        bytes[39] = protocol;
        n = 40;
    }
    int sum = 0;
    for (size_t i = 0; i < n; i += 2) {
        uint16_t word;
        memcpy(&word, bytes + i, 2);
        sum += word;
    }
    return sum;
}

// The folded sum as the checksum field would read in network order.
uint16_t folded(int sum) {
    auto s = static_cast<uint32_t>(sum);
    while (s >> 16) s = (s >> 16) + (s & 0xffff);
    return zelk_ntohs(static_cast<uint16_t>(s));
}

}  // namespace

void print_transport_checksum_verdict(decode_context& cx, const uint8_t* segment, uint8_t protocol, size_t field_offset,
                                      uint16_t transmitted, uint32_t& bad_counter) {
    const ip_pseudo_header& ph = cx.pseudo;
    size_t length = ip_message_length(cx, segment);
    bool behind_ip =
        (protocol == 58 ? ph.version == 6 : ph.version != 0) && segment >= ph.payload && segment < ip_payload_end(cx);
    if (!behind_ip || ph.fragment || !ph.known_destination || !checksum_judgeable(cx) || length < field_offset + 2) {
        zelk_printf(cx.out, "\n");
        return;
    }
    if (protocol == 17) {
        // UDP carries its own length; bytes behind it are not the datagram.
        uint16_t udp_length = get_be16(cx, segment + 4);
        bool zero_allowed = ph.version == 4 || tunnel_port(get_be16(cx, segment + 2));
        if (udp_length < 8 || udp_length > length || (transmitted == 0 && zero_allowed)) {
            zelk_printf(cx.out, "\n");
            return;
        }
        length = udp_length;
    }
    int start_sum = pseudo_sum(cx, protocol, length);
    // Sent before the network card completed it: the field holds only the
    // pseudo-header's sum.
    if (protocol != 58 && transmitted == folded(start_sum)) {
        print_checksum_offloaded(cx, "checksum", "\n");
        return;
    }
    uint16_t expected = transmitted;
    need(cx, segment, length);
    bool whole_sums_to_zero = zelk_in_cksum(segment, static_cast<int>(length), start_sum) == 0;
    if (!whole_sums_to_zero || (protocol == 17 && transmitted == 0)) {
        expected = expected_checksum(cx, segment, length, field_offset, start_sum);
        // A computed 0 goes out as all ones: UDP keeps 0 for "none".
        if (protocol == 17 && expected == 0) expected = 0xffff;
    }
    print_checksum_verdict(cx, transmitted, expected, bad_counter, "\n");
}
