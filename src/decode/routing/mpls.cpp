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

bool ethertype_at(const uint8_t* p) { return captured_from(p, 2) == 2 && pseudowire_ethertype(get_be16(p)); }

// Prints one label stack entry; returns its bottom-of-stack bit.
bool print_entry(uint32_t entry) {
    uint32_t label = entry >> 12;
    bool bottom = (entry >> 8) & 0x1;
    item("labels");
    field("label", "  Label: %u", label);
    print_name("label", dense_name(labels, label, "unknown"));
    field("traffic_class", ", Experimental: %u", (entry >> 9) & 0x7);
    field("bottom_of_stack", "\n  Bottom of stack: %u", static_cast<unsigned>(bottom));
    field("ttl", ", TTL: %u\n", entry & 0xff);
    item_end();
    return bottom;
}

// Behind the stack there is no protocol field: the first nibble tells IP
// versions apart, a zero nibble is the pseudowire control word (RFC 4385),
// and an Ethernet frame shows itself by its EtherType.
void decode_payload(const uint8_t* frame, unsigned offset) {
    const uint8_t* p = header_at(frame, offset);
    if (captured_from(p, 1) == 0) return;
    unsigned nibble = get_u8(p) >> 4;
    frame_lengths lengths = lengths_from(frame);
    if (nibble == 4) {
        decode_ipv4(&lengths, frame, offset);
        return;
    }
    if (nibble == 6) {
        decode_ipv6(&lengths, frame, offset);
        return;
    }
    if (nibble == 0 && ethertype_at(p + 4 + 12)) {
        uint32_t control_word = get_be32(p);
        field("control_word", "  PW Control Word: 0x%08x", control_word);
        field("pw_seq", ", Sequence: %u\n", control_word & 0xffff);
        decode_inner_ethernet(p + 4);
        return;
    }
    if (nibble != 0 && nibble != 1 && ethertype_at(p + 12)) {
        decode_inner_ethernet(p);
        return;
    }
    // To the end of the frame on the wire, as far as captured.
    auto before = static_cast<uint32_t>(p - frame);
    hex_dump(p,
             static_cast<unsigned>(captured_from(p, lengths.wire_length > before ? lengths.wire_length - before : 0)));
}

}  // namespace

int decode_mpls(const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    layer("mpls", "\n- MPLS Header -\n");
    unsigned entries = 0;
    char stack[max_stack_entries * 8 + 1] = "";
    size_t used = 0;
    bool bottom = false;
    while (!bottom) {
        if (entries == max_stack_entries) {
            zelk_printf("  Error: label stack deeper than %u entries\n", max_stack_entries);
            record_text("error", "label stack too deep");
            bump(counters.mpls);
            return 0;
        }
        uint32_t entry = get_be32(h + 4 * entries);
        bottom = print_entry(entry);
        if (settings.summary)
            used += static_cast<size_t>(
                snprintf(stack + used, sizeof stack - used, "%s%u", entries ? "/" : "", entry >> 12));
        ++entries;
    }
    summary_note("labels %s", stack);
    bump(counters.mpls);
    decode_payload(frame, offset + 4 * entries);
    return 0;
}
