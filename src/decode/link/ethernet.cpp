#include "decode/link/ethernet.h"

#include <cstring>

#include "decode/decoder.h"
#include "decode/ip/ipx.h"
#include "decode/link/llc.h"

void print_mac_vendor(const uint8_t* mac, const char* key) {
    need(mac, 6);
    if (!lookup_names()) return;
    bool all_ones = true, all_zero = true;
    for (int i = 0; i < 6; ++i) {
        all_ones = all_ones && mac[i] == 0xff;
        all_zero = all_zero && mac[i] == 0;
    }
    if (all_ones)
        field(key, " (Type: %s)", "Broadcast");
    else if (all_zero)
        field(key, " (Type: %s)", "Nothing set");
    else if (recording()) {
        // The table pads names for the text columns.
        const char* name = zelk_vendor_name(mac);
        size_t length = strlen(name);
        while (length > 0 && name[length - 1] == ' ') --length;
        record_text(key, name, length);
    } else
        field(key, " (Vendor: %s)", zelk_vendor_name(mac));
}

int decode_ethernet(const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = frame + offset;
    layer("ethernet", "\n- Ethernet Header -");
    if (lengths->captured_length <= 13) {
        zelk_printf("\nError: Captured data length(%d bytes) < Ethernet packet header length.\n",
                    static_cast<int>(lengths->captured_length));
        bump(counters.ethernet_ii_short);
        return 0;
    }
    uint16_t type = get_be16(h + 12);
    bool show = expanded(settings.expand_ethernet);
    if (show) {
        need(h, 12);
        field("dst", "\n  MAC Dst: %s", zelk_mac_to_text(h));
        if (verbose()) print_mac_vendor(h, "dst_vendor");
        field("src", "\n  MAC Src: %s", zelk_mac_to_text(h + 6));
        if (verbose()) print_mac_vendor(h + 6, "src_vendor");
    }

    if (type == 0x8100) {
        offset += 4;
        if (show) {
            layer("vlan", "");
            field("tpid", "\n  TPID: 0x%04x", type);
            uint16_t tci = get_be16(h + 14);
            field("priority", "\n  Priority: %d", tci >> 13);
            field("cfi", ", TR/CFI: %d", tci & 0x1000);
            field("vlan_id", "\n  VLAN-ID: %d", tci & 0x0fff);
        }
        uint16_t inner = get_be16(h + 16);
        if (inner <= 1500) {
            decode_llc(lengths, frame, offset, inner);
            bump(counters.vlan);
            return 0;
        }
        if (show) {
            field("type", "\n  Type: 0x%04x", inner);
            if (verbose()) print_ethertype_name(inner);
        }
        bump(counters.vlan);
        type = inner;
    } else if (type > 1500) {
        if (show) {
            field("type", "\n  Type(Ethernet II): 0x%04x", type);
            if (verbose()) print_ethertype_name(type);
        }
        bump(counters.ethernet_ii);
    } else {
        if (get_be16(h + 14) == 0xffff) {
            if (show) field("length", "\n  Length(802.3raw): %d", type);
            bump(counters.ieee8023_raw);
            decode_ipx(frame, offset);
        } else {
            decode_llc(lengths, frame, offset, type);
        }
        return 0;
    }
    decode_ethertype(lengths, frame, offset, type);
    return 0;
}

frame_lengths lengths_from(const uint8_t* frame) {
    need(frame, 0);
    auto skip = static_cast<uint32_t>(frame - current_frame.start);
    auto captured = static_cast<uint32_t>(current_frame.end - frame);
    return frame_lengths{captured, current_frame.wire_length > skip ? current_frame.wire_length - skip : 0};
}

namespace {

// Every layer inside the inner frame finds its header the usual way (frame
// start + link header length + offset). The outer link header length comes
// back however the inner decoding ends, since the next frame needs it.
class inner_link_header {
   public:
    explicit inner_link_header(unsigned length) : saved_(capture.link_header_length) {
        capture.link_header_length = length;
    }
    ~inner_link_header() { capture.link_header_length = saved_; }
    inner_link_header(const inner_link_header&) = delete;
    inner_link_header& operator=(const inner_link_header&) = delete;

   private:
    unsigned saved_;
};

}  // namespace

void decode_inner_ethernet(const uint8_t* inner) {
    frame_lengths lengths = lengths_from(inner);
    inner_link_header ethernet(14);
    decode_ethernet(&lengths, inner, 0);
}
