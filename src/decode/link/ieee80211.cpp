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

const char* mac_at(const uint8_t* p) {
    need(p, 6);
    return zelk_mac_to_text(p);
}

// The FCS as its four bytes read in order.
void print_fcs(field_format<unsigned> format, const uint8_t* p) {
    need(p, 4);
    unsigned fcs = unsigned{p[0]} << 24 | unsigned{p[1]} << 16 | unsigned{p[2]} << 8 | p[3];
    field("fcs", format, fcs);
}

void print_duration(const uint8_t* w) { field("duration", "  Duration/ID: %d\n", get_le16(w + 2)); }

void print_sequence(const uint8_t* w) {
    uint16_t sequence = get_le16(w + 22);
    field("fragment", "  Fragment Number: %d", sequence & 0x000f);
    field("sequence", ", Sequence Number: %d", sequence >> 4);
}

// A frame control bit, printed masked in place, recorded as a boolean.
void flag_field(const char* key, field_format<int> format, int masked) {
    if (recording())
        record_flag(key, masked != 0);
    else
        field(key, format, masked);
}

void decode_management(const uint8_t* w, unsigned subtype) {
    print_duration(w);
    field("da", "  DA: %s", mac_at(w + 4));
    field("sa", ", SA: %s\n", mac_at(w + 10));
    field("bssid", "  BSSID: %s\n", mac_at(w + 16));
    print_sequence(w);
    zelk_printf("\n");
    if (subtype == 8) {
        need(w + 24, 8);
        zelk_printf("  Timestamp: 0x");
        for (int i = 31; i >= 24; --i) zelk_printf("%02x", w[i]);
        record_number("timestamp", static_cast<long long>(get_le32(w + 24) | uint64_t{get_le32(w + 28)} << 32));
        field("interval", "\n  Interval: %u\n", get_le16(w + 32));
        field("capabilities", "  Capabilities: 0x%04x\n", get_le16(w + 34));
    }
}

void decode_control(const uint8_t* w, unsigned subtype) {
    switch (subtype) {
        case 10:
            field("aid", "  AID: %d\n", get_le16(w + 2));
            field("bssid", "  BSSID: %s\n", mac_at(w + 4));
            field("ta", "  TA: %s\n", mac_at(w + 10));
            // This line has no leading break of its own.
            print_fcs("  FCS: 0x%08x\n", w + 16);
            break;
        case 11:
            print_duration(w);
            field("ra", "  RA: %s", mac_at(w + 4));
            field("ta", ", TA: %s\n", mac_at(w + 10));
            print_fcs("\n  FCS: 0x%08x\n", w + 16);
            break;
        case 12:
        case 13:
            print_duration(w);
            field("ra", "  RA: %s", mac_at(w + 4));
            print_fcs("\n  FCS: 0x%08x\n", w + 10);
            break;
        case 14:
        case 15:
            print_duration(w);
            field("ra", "  RA: %s", mac_at(w + 4));
            field("bssid", "  BSSID: %s\n", mac_at(w + 10));
            print_fcs("\n  FCS: 0x%08x\n", w + 16);
            break;
        default: break;
    }
}

// QoS data subtypes (8-15) carry a QoS Control field behind the addresses,
// and an HT Control field behind that when the Order bit is set.
constexpr unsigned qos_subtype = 0x8;

// Returns the header length: 24, or 30 with the fourth address, plus QoS
// and HT Control.
unsigned decode_data(const uint8_t* w, uint16_t fc, unsigned subtype) {
    print_duration(w);
    flag_field("more_fragments", "  More-Fragment: %d", fc & more_fragments);
    flag_field("retry", ", Retry: %d\n", fc & retry);
    flag_field("power_management", "  Power-Management: %d", fc & power_management);
    flag_field("more_data", ", More-Data: %d\n", fc & more_data);
    flag_field("wep", "  WEP: %d", fc & wep);
    flag_field("order", ", Order: %d\n", fc & order);

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
        field(roles[ds][i]->key, roles[ds][i]->format, mac_at(w + address_at[i]));
    print_sequence(w);
    unsigned length = ds == 3 ? 30 : 24;
    if (subtype & qos_subtype) {
        uint16_t qos = get_le16(w + length);
        field("qos_control", "\n  QoS Control: 0x%04x", qos);
        field("tid", ", TID: %d", qos & 0x000f);
        length += 2;
        if (fc & order) {
            field("ht_control", "\n  HT Control: 0x%08x", get_le32(w + length));
            length += 4;
        }
    }
    return length;
}

// Keeps the body's decoders inside the frame body: a caller that knows of a
// trailing FCS (radiotap) passes lengths without it.
class body_bounds {
   public:
    body_bounds(const uint8_t* frame, const frame_lengths* lengths)
        : end_(current_frame.end), ip_payload_end_(current_frame.ip_payload_end) {
        const uint8_t* body_end = frame + lengths->captured_length;
        if (body_end < current_frame.end) current_frame.end = body_end;
        if (current_frame.end < current_frame.ip_payload_end) current_frame.ip_payload_end = current_frame.end;
    }
    ~body_bounds() {
        current_frame.end = end_;
        current_frame.ip_payload_end = ip_payload_end_;
    }
    body_bounds(const body_bounds&) = delete;
    body_bounds& operator=(const body_bounds&) = delete;

   private:
    const uint8_t* end_;
    const uint8_t* ip_payload_end_;
};

}  // namespace

int decode_ieee80211(const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    const uint8_t* w = frame + offset;
    layer("ieee80211", "\n- 802.11 Header -\n");
    if (lengths->captured_length <= 1) {
        zelk_printf("Error: Captured data length(%d bytes) < Frame Control length.\n",
                    static_cast<int>(lengths->captured_length));
        record_text("error", "frame shorter than the frame control field");
        bump(counters.ieee80211_short);
        return 0;
    }
    uint16_t fc = get_le16(w);
    unsigned type = (fc & 0x000c) >> 2;
    unsigned subtype = (fc & 0x00f0) >> 4;
    field("version", "  Version: %d", fc & 3);
    field("type", ", Type: %d", type);
    print_name("type", type_names[type]);
    field("subtype", "\n  Subtype: %d", subtype);
    if (const char* name = subtype_name(type, subtype)) {
        print_name("subtype", name);
        summary_note("%s", name);
    } else {
        summary_note("%s subtype %u", type_names[type], subtype);
    }
    zelk_printf("\n");

    switch (type) {
        case management: decode_management(w, subtype); break;
        case control: decode_control(w, subtype); break;
        case data: {
            unsigned header_length = decode_data(w, fc, subtype);
            if (fc & wep) {
                zelk_printf("\n  Data: <WEP encrypted, not implemented @ the moment>\n");
                record_flag("encrypted", true);
            } else if (static_cast<size_t>(w + header_length - frame) < lengths->wire_length) {
                // Frames without a body (null data, polls without data)
                // have no LLC header to show.
                body_bounds body(frame, lengths);
                decode_llc(lengths, frame, offset - capture.link_header_length + header_length, 0);
            }
            break;
        }
        default: break;
    }
    bump(counters.ieee80211);
    return 0;
}

int decode_prism(const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    static const char* const items[] = {
        "Host Time", "MAC Time", "Channel Time", "RSSI", "SQ", "Signal", "Noise", "Rate", "isTX", "Frame Length",
    };
    layer("prism", "\n- Prism Monitor Header -\n");
    field("code", "  Code: %d, ", static_cast<int>(get_le32(frame)));
    field("length", "Length: %d, Device: \"", static_cast<int>(get_le32(frame + 4)));
    if (recording()) {
        need(frame + 8, 16);
        record_text("device", reinterpret_cast<const char*>(frame + 8),
                    strnlen(reinterpret_cast<const char*>(frame + 8), 16));
    } else {
        print_text_bytes(frame + 8, 16);
    }
    zelk_printf("\"\n");
    const uint8_t* p = frame + 24;
    for (size_t i = 0; i < std::size(items); ++i, p += 12) {
        zelk_printf("  -%s- DID: 0x%08x, Status: 0x%04x, Length: %d, Data: 0x%08x", items[i], get_le32(p),
                    get_le16(p + 4), get_le16(p + 6), get_le32(p + 8));
        if (i + 1 < std::size(items)) zelk_printf("\n");
        item("items");
        record_text("name", items[i]);
        record_number("did", get_le32(p));
        record_number("status", get_le16(p + 4));
        record_number("length", get_le16(p + 6));
        record_number("data", get_le32(p + 8));
        item_end();
    }
    bump(counters.prism);
    decode_ieee80211(lengths, frame, offset + capture.link_header_length);
    return 0;
}
