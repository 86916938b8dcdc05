#include "decode/link/linux_cooked.h"

#include <string>

#include "decode/decoder.h"
#include "decode/ip/ipx.h"
#include "decode/link/ethernet.h"
#include "decode/link/llc.h"

namespace {
constexpr unsigned cooked_header_length = 16;
constexpr unsigned cooked2_header_length = 20;
// Protocol values below the EtherType range name the kernel's own kinds.
constexpr uint16_t cooked_802_2 = 1;  // an 802.2 LLC frame
constexpr uint16_t cooked_ipx = 4;    // Novell raw 802.3
// The address field holds at most 8 bytes; a longer length is cut there.
constexpr unsigned cooked_address_bytes = 8;

constexpr code_name packet_types[] = {
    {0, "To us"}, {1, "Broadcast"}, {2, "Multicast"}, {3, "To another host"}, {4, "Sent by us"},
};

// Records the fields both versions share. Neither version prints text: the
// frame reads as if the link header were not there.
void record_cooked_fields(decode_context& cx, unsigned packet_type, unsigned hardware_type, unsigned address_length,
                          const uint8_t* address) {
    record_number(cx, "packet_type", packet_type);
    if (recording()) print_name(cx, "packet_type", find_name(packet_types, packet_type, "unknown"));
    record_number(cx, "hardware_type", hardware_type);
    record_number(cx, "address_length", address_length);
    if (!recording()) return;
    std::string text;
    unsigned n = address_length < cooked_address_bytes ? address_length : cooked_address_bytes;
    static constexpr char digits[] = "0123456789abcdef";
    for (unsigned i = 0; i < n; ++i) {
        if (i) text += ':';
        uint8_t b = get_u8(cx, address + i);
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    record_text(cx, "address", text);
}

void dispatch_cooked(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned next,
                     uint16_t protocol) {
    if (protocol > 0x0600)
        decode_ethertype(cx, lengths, frame, next, protocol);
    else if (protocol == cooked_802_2)
        decode_llc(cx, lengths, frame, next, 1);
    else if (protocol == cooked_ipx)
        decode_ipx(cx, frame, next);
}

}  // namespace

int decode_linux_cooked(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    const uint8_t* c = header_at(cx, frame, offset);
    uint16_t protocol = get_be16(cx, c + 14);
    layer(cx, "linux_cooked", "");
    record_number(cx, "protocol", protocol);
    record_cooked_fields(cx, get_be16(cx, c), get_be16(cx, c + 2), get_be16(cx, c + 4), c + 6);
    dispatch_cooked(cx, lengths, frame, offset + cooked_header_length, protocol);
    return 0;
}

// Version 2 moves the protocol to the front and adds the interface index,
// so that a capture on every interface tells them apart.
int decode_linux_cooked2(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    const uint8_t* c = header_at(cx, frame, offset);
    need(cx, c, cooked2_header_length);
    uint16_t protocol = get_be16(cx, c);
    layer(cx, "linux_cooked", "");
    record_number(cx, "version", 2);
    record_number(cx, "protocol", protocol);
    record_number(cx, "interface_index", get_be32(cx, c + 4));
    record_cooked_fields(cx, get_u8(cx, c + 10), get_be16(cx, c + 8), get_u8(cx, c + 11), c + 12);
    bump(cx.counters.linux_cooked_v2);
    dispatch_cooked(cx, lengths, frame, offset + cooked2_header_length, protocol);
    return 0;
}
