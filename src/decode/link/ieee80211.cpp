#include "decode/link/ieee80211.h"

#include <cstring>
#include <iterator>

#include "decode/decoder.h"
#include "decode/link/llc.h"

namespace {

enum frame_type { management = 0, control = 1, data = 2, reserved = 3 };

constexpr const char* type_names[] = {"Management", "Control", "Data", "Reserved"};

constexpr const char* management_subtypes[] = {
    "Association request",
    "Association response",
    "Reassociation request",
    "Reassociation response",
    "Probe request",
    "Probe response",
    nullptr,
    nullptr,
    "Beacon",
    "ATIM",
    "Disassociation",
    "Authentication",
    "Deauthentication",
};
constexpr code_name control_subtypes[] = {
    {10, "Power save poll"}, {11, "Request to send"}, {12, "Clear to send"},
    {13, "Acknowledgement"}, {14, "Contention free"}, {15, "Acknowledgement end"},
};
constexpr const char* data_subtypes[] = {
    "Data",
    "Contention free ack",
    "Contention free poll",
    "Contention free poll and ack",
    "Null",
    "Contention free ack without data",
    "Contention free poll without data",
    "Contention free poll and ack without data",
};

// Subtypes without a name get no suffix at all.
const char* subtype_name(unsigned type, unsigned subtype) {
    switch (type) {
        case management: return dense_name(management_subtypes, subtype, nullptr);
        case control: return find_name(control_subtypes, subtype, nullptr);
        case data: return dense_name(data_subtypes, subtype, nullptr);
        default: return nullptr;
    }
}

constexpr uint16_t to_ds = 0x0100, from_ds = 0x0200, more_fragments = 0x0400, retry = 0x0800, power_management = 0x1000,
                   more_data = 0x2000, wep = 0x4000, order = 0x8000;

const char* mac_at(decode_context& cx, const uint8_t* p) {
    need(cx, p, 6);
    return zelk_mac_to_text(p);
}

// The FCS as its four bytes read in order.
void print_fcs(decode_context& cx, field_format<unsigned> format, const uint8_t* p) {
    need(cx, p, 4);
    unsigned fcs = unsigned{p[0]} << 24 | unsigned{p[1]} << 16 | unsigned{p[2]} << 8 | p[3];
    field(cx, "fcs", format, fcs);
}

void print_duration(decode_context& cx, const uint8_t* w) {
    field(cx, "duration", "  Duration/ID: %d\n", get_le16(cx, w + 2));
}

void print_sequence(decode_context& cx, const uint8_t* w) {
    uint16_t sequence = get_le16(cx, w + 22);
    field(cx, "fragment", "  Fragment Number: %d", sequence & 0x000f);
    field(cx, "sequence", ", Sequence Number: %d", sequence >> 4);
}

// A frame control bit, printed masked in place, recorded as a boolean.
void flag_field(decode_context& cx, const char* key, field_format<int> format, int masked) {
    if (recording())
        record_flag(cx, key, masked != 0);
    else
        field(cx, key, format, masked);
}

void decode_management(decode_context& cx, const uint8_t* w, unsigned subtype) {
    print_duration(cx, w);
    field(cx, "da", "  DA: %s", mac_at(cx, w + 4));
    field(cx, "sa", ", SA: %s\n", mac_at(cx, w + 10));
    field(cx, "bssid", "  BSSID: %s\n", mac_at(cx, w + 16));
    print_sequence(cx, w);
    zelk_printf(cx.out, "\n");
    if (subtype == 8) {
        need(cx, w + 24, 8);
        zelk_printf(cx.out, "  Timestamp: 0x");
        for (int i = 31; i >= 24; --i) zelk_printf(cx.out, "%02x", w[i]);
        record_number(cx, "timestamp",
                      static_cast<long long>(get_le32(cx, w + 24) | uint64_t{get_le32(cx, w + 28)} << 32));
        field(cx, "interval", "\n  Interval: %u\n", get_le16(cx, w + 32));
        field(cx, "capabilities", "  Capabilities: 0x%04x\n", get_le16(cx, w + 34));
    }
}

void decode_control(decode_context& cx, const uint8_t* w, unsigned subtype) {
    switch (subtype) {
        case 10:
            field(cx, "aid", "  AID: %d\n", get_le16(cx, w + 2));
            field(cx, "bssid", "  BSSID: %s\n", mac_at(cx, w + 4));
            field(cx, "ta", "  TA: %s\n", mac_at(cx, w + 10));
            // This line has no leading break of its own.
            print_fcs(cx, "  FCS: 0x%08x\n", w + 16);
            break;
        case 11:
            print_duration(cx, w);
            field(cx, "ra", "  RA: %s", mac_at(cx, w + 4));
            field(cx, "ta", ", TA: %s\n", mac_at(cx, w + 10));
            print_fcs(cx, "\n  FCS: 0x%08x\n", w + 16);
            break;
        case 12:
        case 13:
            print_duration(cx, w);
            field(cx, "ra", "  RA: %s", mac_at(cx, w + 4));
            print_fcs(cx, "\n  FCS: 0x%08x\n", w + 10);
            break;
        case 14:
        case 15:
            print_duration(cx, w);
            field(cx, "ra", "  RA: %s", mac_at(cx, w + 4));
            field(cx, "bssid", "  BSSID: %s\n", mac_at(cx, w + 10));
            print_fcs(cx, "\n  FCS: 0x%08x\n", w + 16);
            break;
        default: break;
    }
}

// QoS data subtypes (8-15) carry a QoS Control field behind the addresses,
// and an HT Control field behind that when the Order bit is set.
constexpr unsigned qos_subtype = 0x8;

// Returns the header length: 24, or 30 with the fourth address, plus QoS
// and HT Control.
unsigned decode_data(decode_context& cx, const uint8_t* w, uint16_t fc, unsigned subtype) {
    print_duration(cx, w);
    flag_field(cx, "more_fragments", "  More-Fragment: %d", fc & more_fragments);
    flag_field(cx, "retry", ", Retry: %d\n", fc & retry);
    flag_field(cx, "power_management", "  Power-Management: %d", fc & power_management);
    flag_field(cx, "more_data", ", More-Data: %d\n", fc & more_data);
    flag_field(cx, "wep", "  WEP: %d", fc & wep);
    flag_field(cx, "order", ", Order: %d\n", fc & order);

    struct address_role {
        const char* key;
        field_format<const char*> format;
    };
    static constexpr address_role da{"da", "  DA: %s\n"}, sa{"sa", "  SA: %s\n"}, bssid{"bssid", "  BSSID: %s\n"},
        ra{"ra", "  RA: %s\n"}, ta{"ta", "  TA: %s\n"};
    static constexpr const address_role* roles[4][4] = {
        {&da, &sa, &bssid, nullptr},
        {&da, &bssid, &sa, nullptr},
        {&bssid, &sa, &da, nullptr},
        {&ra, &ta, &da, &sa},
    };
    unsigned ds = ((fc & to_ds) ? 2 : 0) | ((fc & from_ds) ? 1 : 0);
    // Rows are indexed by (to-DS, from-DS) in the order 00, 01, 10, 11.
    static const unsigned address_at[4] = {4, 10, 16, 24};
    for (int i = 0; i < 4 && roles[ds][i]; ++i)
        field(cx, roles[ds][i]->key, roles[ds][i]->format, mac_at(cx, w + address_at[i]));
    print_sequence(cx, w);
    unsigned length = ds == 3 ? 30 : 24;
    if (subtype & qos_subtype) {
        uint16_t qos = get_le16(cx, w + length);
        field(cx, "qos_control", "\n  QoS Control: 0x%04x", qos);
        field(cx, "tid", ", TID: %d", qos & 0x000f);
        length += 2;
        if (fc & order) {
            field(cx, "ht_control", "\n  HT Control: 0x%08x", get_le32(cx, w + length));
            length += 4;
        }
    }
    return length;
}

}  // namespace

int decode_ieee80211(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    const uint8_t* w = frame + offset;
    layer(cx, "ieee80211", "\n- 802.11 Header -\n");
    if (lengths->captured_length <= 1) {
        zelk_printf(cx.out, "Error: Captured data length(%d bytes) < Frame Control length.\n",
                    static_cast<int>(lengths->captured_length));
        record_text(cx, "error", "frame shorter than the frame control field");
        bump(cx.counters.ieee80211_short);
        return 0;
    }
    uint16_t fc = get_le16(cx, w);
    unsigned type = (fc & 0x000c) >> 2;
    unsigned subtype = (fc & 0x00f0) >> 4;
    field(cx, "version", "  Version: %d", fc & 3);
    field(cx, "type", ", Type: %d", type);
    print_name(cx, "type", type_names[type]);
    field(cx, "subtype", "\n  Subtype: %d", subtype);
    if (const char* name = subtype_name(type, subtype)) {
        print_name(cx, "subtype", name);
        summary_note(cx, "%s", name);
    } else {
        summary_note(cx, "%s subtype %u", type_names[type], subtype);
    }
    zelk_printf(cx.out, "\n");

    switch (type) {
        case management: decode_management(cx, w, subtype); break;
        case control: decode_control(cx, w, subtype); break;
        case data: {
            unsigned header_length = decode_data(cx, w, fc, subtype);
            if (fc & wep) {
                zelk_printf(cx.out, "\n  Data: <WEP encrypted, not implemented @ the moment>\n");
                record_flag(cx, "encrypted", true);
            } else if (static_cast<size_t>(w + header_length - frame) < lengths->wire_length) {
                // Frames without a body (null data, polls without data)
                // have no LLC header to show.
                inner_frame_view body(cx, frame + lengths->captured_length, cx.link_header_length);
                decode_llc(cx, lengths, frame, offset - cx.link_header_length + header_length, 0);
            }
            break;
        }
        default: break;
    }
    bump(cx.counters.ieee80211);
    return 0;
}

int decode_prism(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    static const char* const items[] = {
        "Host Time", "MAC Time", "Channel Time", "RSSI", "SQ", "Signal", "Noise", "Rate", "isTX", "Frame Length",
    };
    layer(cx, "prism", "\n- Prism Monitor Header -\n");
    field(cx, "code", "  Code: %d, ", static_cast<int>(get_le32(cx, frame)));
    field(cx, "length", "Length: %d, Device: \"", static_cast<int>(get_le32(cx, frame + 4)));
    if (recording()) {
        need(cx, frame + 8, 16);
        record_text(cx, "device", reinterpret_cast<const char*>(frame + 8),
                    strnlen(reinterpret_cast<const char*>(frame + 8), 16));
    } else {
        print_text_bytes(cx, frame + 8, 16);
    }
    zelk_printf(cx.out, "\"\n");
    const uint8_t* p = frame + 24;
    for (size_t i = 0; i < std::size(items); ++i, p += 12) {
        zelk_printf(cx.out, "  -%s- DID: 0x%08x, Status: 0x%04x, Length: %d, Data: 0x%08x", items[i], get_le32(cx, p),
                    get_le16(cx, p + 4), get_le16(cx, p + 6), get_le32(cx, p + 8));
        if (i + 1 < std::size(items)) zelk_printf(cx.out, "\n");
        item(cx, "items");
        record_text(cx, "name", items[i]);
        record_number(cx, "did", get_le32(cx, p));
        record_number(cx, "status", get_le16(cx, p + 4));
        record_number(cx, "length", get_le16(cx, p + 6));
        record_number(cx, "data", get_le32(cx, p + 8));
        item_end(cx);
    }
    bump(cx.counters.prism);
    decode_ieee80211(cx, lengths, frame, offset + cx.link_header_length);
    return 0;
}
