#include "decode/link/pppoe.h"

#include "decode/decoder.h"
#include "decode/link/ppp.h"

namespace {

constexpr unsigned pppoe_header_length = 6;

constexpr code_name pppoe_codes[] = {
    {0x09, "PADI"}, {0x07, "PADO"},          {0x19, "PADR"}, {0x65, "PADS"},
    {0xa7, "PADT"}, {0x00, "Session stage"}, {0xd3, "PADM"}, {0xd4, "PADN"},
};

bool is_discovery_code(uint8_t code) {
    return code == 0x09 || code == 0x07 || code == 0x19 || code == 0x65 || code == 0xa7;
}

enum class tag_value { none, text, not_implemented };

struct tag_kind {
    uint16_t type;
    const char* name;
    tag_value value;
};

constexpr tag_kind pppoe_tags[] = {
    {0x0000, "End-Of-List", tag_value::none},
    {0x0101, "Session Name", tag_value::text},
    {0x0102, "AC-Name", tag_value::text},
    {0x0103, "Host-Uniq", tag_value::not_implemented},
    {0x0104, "AC-Cookie", tag_value::not_implemented},
    {0x0105, "Vendor-Specific", tag_value::none},
    {0x0110, "Relay-Session-ID", tag_value::not_implemented},
    {0x0201, "Service-Name-Error", tag_value::text},
    {0x0202, "AC-System-Error", tag_value::text},
    {0x0203, "Generic-Error", tag_value::text},
};

const tag_kind* find_tag(uint16_t type) {
    for (const auto& tag : pppoe_tags)
        if (tag.type == type) return &tag;
    return nullptr;
}

bool hex_dump_wanted() {
    return settings.print_pppoe_hex && !settings.print_ip_hex && !settings.print_tcp_text && !settings.print_udp_text &&
           !settings.print_tcp_hex && !settings.print_udp_hex;
}

}  // namespace

int decode_pppoe(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    const uint8_t* e = header_at(cx, frame, offset);
    layer(cx, "pppoe", "\n- PPPoE Header -\n");
    uint8_t code = get_u8(cx, e + 1);
    bool session_line = is_discovery_code(code) || code == 0x00;
    if (expanded(settings.expand_pppoe)) {
        uint8_t version_type = get_u8(cx, e);
        field(cx, "version", "  Version: %d", version_type >> 4);
        field(cx, "type", ", Type: %d", version_type & 0x0f);
        field(cx, "code", ", Code: 0x%x", code);
        print_name(cx, "code", find_name(pppoe_codes, code, "Unknown"));
        if (session_line) {
            field(cx, "session_id", "\n  Session ID: 0x%x", get_be16(cx, e + 2));
            field(cx, "length", ", Length: %u\n", get_be16(cx, e + 4));
        }
    }

    if (is_discovery_code(code))
        decode_pppoe_tags(cx, frame, offset);
    else if (code == 0x00)
        decode_ppp(cx, lengths, frame, offset + pppoe_header_length);

    if (hex_dump_wanted()) {
        // From behind the PPP protocol field (or the first tag's type) to
        // the end of the frame on the wire, as far as it was captured.
        const uint8_t* from = e + pppoe_header_length + 2;
        size_t position = static_cast<size_t>(from - frame);
        size_t want = lengths->wire_length > position ? lengths->wire_length - position : 0;
        hex_dump(cx, from, static_cast<unsigned>(captured_from(cx, from, want)));
    }
    bump(cx.counters.pppoe);
    return 0;
}

int decode_pppoe_tags(decode_context& cx, const uint8_t* frame, unsigned offset) {
    const uint8_t* e = header_at(cx, frame, offset);
    const uint8_t* tags = e + pppoe_header_length;
    // The walk ends with the payload or with the captured bytes, whichever
    // comes first, even when no End-Of-List tag closes the list.
    unsigned payload_length = get_be16(cx, e + 4);
    unsigned position = 0;
    for (int number = 1;; ++number) {
        if (position + 4u > payload_length || !in_frame(cx, tags + position, 4)) break;
        const uint8_t* tag = tags + position;
        uint16_t type = get_be16(cx, tag);
        uint16_t length = get_be16(cx, tag + 2);
        item(cx, "tags");
        zelk_printf(cx.out, "  - Tag %d -\n", number);
        field(cx, "type", "    Type: 0x%x", type);
        const tag_kind* kind = find_tag(type);
        print_name(cx, "type", kind ? kind->name : "unknown");
        bool last = !kind || type == 0x0000;
        field(cx, "length", "\n    Length: %d\n", length);
        if (kind && length > 4) {
            if (kind->value == tag_value::text) {
                zelk_printf(cx.out, "    Value: \"");
                if (recording()) {
                    need(cx, tag + 4, length);
                    record_text(cx, "value", reinterpret_cast<const char*>(tag + 4), length);
                } else {
                    print_text_bytes(cx, tag + 4, length);
                }
                zelk_printf(cx.out, "\"\n");
            } else if (kind->value == tag_value::not_implemented) {
                zelk_printf(cx.out, "    Value: <UTF8 encoded, not implemented>\n");
                record_hex(cx, "value_hex", tag + 4, captured_from(cx, tag + 4, length));
            }
        }
        item_end(cx);
        bump(cx.counters.pppoe_tags);
        if (last) break;
        position += length + 4u;
    }
    return 0;
}
