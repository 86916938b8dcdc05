#include "decode/routing/mpls.h"

#include "decode/decoder.h"
#include "decode/ip/ipv4.h"
#include "decode/ip/ipv6.h"
#include "decode/link/ethernet.h"

namespace {

constexpr const char* reserved = "Reserved";
constexpr const char* labels[] = {
    "IPv4 Explicit NULL",
    "Router Alert Label",
    "IPv6 Explicit NULL",
    "Implicit NULL",
    reserved,
    reserved,
    reserved,
    reserved,
    reserved,
    reserved,
    reserved,
    reserved,
    reserved,
    reserved,
    reserved,
    reserved,
    "End of Tunnel",
};

// A stack deeper than this is not a real one (RFC 3032 sets no limit;
// deployed stacks hold a handful of entries): stop there.
constexpr unsigned max_stack_entries = 16;

// EtherTypes that make the bytes behind the stack clearly an Ethernet
// frame of an Ethernet pseudowire.
bool pseudowire_ethertype(uint16_t type) {
    switch (type) {
        case 0x0800:
        case 0x0806:
        case 0x8100:
        case 0x86dd:
        case 0x8847:
        case 0x8848:
        case 0x88a8: return true;
        default: return false;
    }
}

bool ethertype_at(decode_context& cx, const uint8_t* p) {
    return captured_from(cx, p, 2) == 2 && pseudowire_ethertype(get_be16(cx, p));
}

// Prints one label stack entry; returns its bottom-of-stack bit.
bool print_entry(decode_context& cx, uint32_t entry) {
    uint32_t label = entry >> 12;
    bool bottom = (entry >> 8) & 0x1;
    item(cx, "labels");
    field(cx, "label", "  Label: %u", label);
    print_name(cx, "label", dense_name(labels, label, "unknown"));
    field(cx, "traffic_class", ", Experimental: %u", (entry >> 9) & 0x7);
    field(cx, "bottom_of_stack", "\n  Bottom of stack: %u", static_cast<unsigned>(bottom));
    field(cx, "ttl", ", TTL: %u\n", entry & 0xff);
    item_end(cx);
    return bottom;
}

// Behind the stack there is no protocol field: the first nibble tells IP
// versions apart, a zero nibble is the pseudowire control word (RFC 4385),
// and an Ethernet frame shows itself by its EtherType.
void decode_payload(decode_context& cx, const uint8_t* frame, unsigned offset) {
    const uint8_t* p = header_at(cx, frame, offset);
    if (captured_from(cx, p, 1) == 0) return;
    unsigned nibble = get_u8(cx, p) >> 4;
    frame_lengths lengths = lengths_from(cx, frame);
    if (nibble == 4) {
        decode_ipv4(cx, &lengths, frame, offset);
        return;
    }
    if (nibble == 6) {
        decode_ipv6(cx, &lengths, frame, offset);
        return;
    }
    if (nibble == 0 && ethertype_at(cx, p + 4 + 12)) {
        uint32_t control_word = get_be32(cx, p);
        field(cx, "control_word", "  PW Control Word: 0x%08x", control_word);
        field(cx, "pw_seq", ", Sequence: %u\n", control_word & 0xffff);
        decode_inner_ethernet(cx, p + 4);
        return;
    }
    if (nibble != 0 && nibble != 1 && ethertype_at(cx, p + 12)) {
        decode_inner_ethernet(cx, p);
        return;
    }
    // To the end of the frame on the wire, as far as captured.
    auto before = static_cast<uint32_t>(p - frame);
    hex_dump(
        cx, p,
        static_cast<unsigned>(captured_from(cx, p, lengths.wire_length > before ? lengths.wire_length - before : 0)));
}

}  // namespace

int decode_mpls(decode_context& cx, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    layer(cx, "mpls", "\n- MPLS Header -\n");
    unsigned entries = 0;
    char stack[max_stack_entries * 8 + 1] = "";
    size_t used = 0;
    bool bottom = false;
    while (!bottom) {
        if (entries == max_stack_entries) {
            zelk_printf(cx.out, "  Error: label stack deeper than %u entries\n", max_stack_entries);
            record_text(cx, "error", "label stack too deep");
            bump(cx.counters.mpls);
            return 0;
        }
        uint32_t entry = get_be32(cx, h + 4 * entries);
        bottom = print_entry(cx, entry);
        if (settings.summary)
            used += static_cast<size_t>(
                snprintf(stack + used, sizeof stack - used, "%s%u", entries ? "/" : "", entry >> 12));
        ++entries;
    }
    summary_note(cx, "labels %s", stack);
    bump(cx.counters.mpls);
    decode_payload(cx, frame, offset + 4 * entries);
    return 0;
}
