#include "decode/app/geneve.h"

#include "decode/decoder.h"
#include "decode/link/ethernet.h"

static const char* protocol_name(uint16_t protocol) {
    static constexpr code_name names[] = {
        {0x0800, "IPv4"},
        {0x6558, "Transparent Ethernet Bridging"},
        {0x86dd, "IPv6"},
    };
    return find_name(names, protocol, "unknown");
}

int decode_geneve(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    layer(cx, "geneve", "- Geneve Header -");
    need(cx, h, 8);
    bump(cx.counters.geneve);
    uint8_t first = get_u8(cx, h);
    uint8_t flags = get_u8(cx, h + 1);
    uint16_t protocol = get_be16(cx, h + 2);
    uint32_t vni = get_be32(cx, h + 4) >> 8;
    unsigned version = first >> 6;
    unsigned options_length = (first & 0x3f) * 4u;
    bool all = expanded(settings.expand_all);
    if (all) {
        field(cx, "version", "\n  Version: %u", version);
        field(cx, "options_length", ", Options Length: %u", options_length);
        field(cx, "flags", ", Flags: 0x%02x", flags);
        record_flag(cx, "oam", flags & 0x80);
        record_flag(cx, "critical", flags & 0x40);
        if (settings.verbose && (flags & 0xc0))
            zelk_printf(cx.out, " (%s%s)", flags & 0x80 ? "O" : "", flags & 0x40 ? "C" : "");
    }
    field(cx, "protocol", "\n  Protocol: 0x%04x", protocol);
    if (verbose()) print_name(cx, "protocol", protocol_name(protocol));
    field(cx, "vni", ", VNI: %u", vni);
    summary_note(cx, "VNI %u", vni);
    if (version != 0) {
        zelk_printf(cx.out, "\n  Unknown version %u: %u bytes not decoded\n", version,
                    static_cast<unsigned>(ip_message_length(cx, h)));
        record_text(cx, "error", "unknown version");
        return 0;
    }
    // Options: class, type, then the data length in 4-byte words; each
    // takes at least its 4-byte header.
    const uint8_t* option = h + 8;
    const uint8_t* options_end = option + options_length;
    while (option < options_end) {
        if (options_end - option < 4) break;
        uint16_t option_class = get_be16(cx, option);
        uint8_t type = get_u8(cx, option + 2);
        unsigned data_length = (get_u8(cx, option + 3) & 0x1f) * 4u;
        if (static_cast<size_t>(options_end - option) < 4 + data_length) {
            zelk_printf(cx.out, "\n  [malformed: an option runs past the options]\n");
            record_text(cx, "error", "an option runs past the options");
            return 0;
        }
        need(cx, option, 4 + data_length);
        if (all) {
            item(cx, "options");
            field(cx, "class", "\n  Option: Class 0x%04x", option_class);
            field(cx, "type", ", Type 0x%02x", type);
            field(cx, "length", ", Length: %u", data_length);
            if (data_length) {
                zelk_printf(cx.out, "\n    Data:");
                for (unsigned i = 0; i < data_length; ++i) zelk_printf(cx.out, " %02x", option[4 + i]);
                record_hex(cx, "data", option + 4, data_length);
            }
            item_end(cx);
        }
        option += 4 + data_length;
    }
    zelk_printf(cx.out, "\n");
    if (protocol == 0x6558)
        decode_inner_ethernet(cx, options_end);
    else
        decode_ethertype(cx, lengths, frame, offset + 8 + options_length, protocol);
    return 0;
}
