#include "decode/link/qinq.h"

#include <string>

#include "decode/decoder.h"
#include "decode/link/ethernet.h"
#include "decode/link/llc.h"

namespace {

// Stacks deeper than this are not built by any bridge; the rest is left.
constexpr unsigned max_tags = 8;

bool is_tag(uint16_t type) { return type == 0x88a8 || type == 0x9100 || type == 0x8100; }

}  // namespace

int decode_qinq(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset,
                uint16_t tpid) {
    layer(cx, "qinq", "\n- 802.1ad VLAN Tags -");
    bump(cx.counters.qinq);
    bool show = expanded(settings.expand_all);
    std::string ids;
    uint16_t type = tpid;
    unsigned tags = 0;
    // Each tag: the control word here, the next type (another tag or the
    // payload's EtherType) behind it.
    while (is_tag(type) && tags < max_tags) {
        const uint8_t* h = header_at(cx, frame, offset);
        uint16_t tci = get_be16(cx, h);
        uint16_t next = get_be16(cx, h + 2);
        item(cx, "tags");
        if (show) {
            field(cx, "tpid", "\n  TPID: 0x%04x", type);
            field(cx, "priority", ", Priority: %u", tci >> 13);
            field(cx, "dei", ", DEI: %u", (tci >> 12) & 1);
            field(cx, "vlan_id", ", VLAN-ID: %u", tci & 0x0fff);
        } else
            field(cx, "vlan_id", "\n  VLAN-ID: %u", tci & 0x0fff);
        item_end(cx);
        if (!ids.empty()) ids += ",";
        ids += std::to_string(tci & 0x0fff);
        offset += 4;
        ++tags;
        type = next;
    }
    summary_note(cx, "vlan %s", ids.c_str());
    if (is_tag(type)) {
        zelk_printf(cx.out, "\n  (more than %u tags, not decoded)\n", max_tags);
        record_text(cx, "error", "too many tags");
        return 0;
    }
    if (type <= 1500) {
        if (show) field(cx, "length", "\n  Length: %u", type);
        decode_llc(cx, lengths, frame, offset, type);
        return 0;
    }
    if (show) {
        field(cx, "type", "\n  Type: 0x%04x", type);
        if (verbose()) print_ethertype_name(cx, type);
    }
    decode_ethertype(cx, lengths, frame, offset, type);
    return 0;
}
