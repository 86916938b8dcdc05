#include "decode/link/ieee80211.h"

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

void print_fcs(const uint8_t* p) {
    need(p, 4);
    zelk_printf("\n  FCS: 0x%2.2x%2.2x%2.2x%2.2x\n", p[0], p[1], p[2], p[3]);
}

void print_sequence(const uint8_t* w) {
    uint16_t sequence = get_le16(w + 22);
    zelk_printf("  Fragment Number: %d", sequence & 0x000f);
    zelk_printf(", Sequence Number: %d", sequence >> 4);
}

void decode_management(const uint8_t* w, unsigned subtype) {
    zelk_printf("  Duration/ID: %d\n", get_le16(w + 2));
    zelk_printf("  DA: %s", mac_at(w + 4));
    zelk_printf(", SA: %s\n", mac_at(w + 10));
    zelk_printf("  BSSID: %s\n", mac_at(w + 16));
    print_sequence(w);
    zelk_printf("\n");
    if (subtype == 8) {
        need(w + 24, 8);
        zelk_printf("  Timestamp: 0x");
        for (int i = 31; i >= 24; --i) zelk_printf("%02x", w[i]);
        zelk_printf("\n  Interval: %u\n", get_le16(w + 32));
        zelk_printf("  Capabilities: 0x%04x\n", get_le16(w + 34));
    }
}

void decode_control(const uint8_t* w, unsigned subtype) {
    switch (subtype) {
        case 10:
            zelk_printf("  AID: %d\n", get_le16(w + 2));
            zelk_printf("  BSSID: %s\n", mac_at(w + 4));
            zelk_printf("  TA: %s\n", mac_at(w + 10));
            // This line has no leading break of its own.
            need(w + 16, 4);
            zelk_printf("  FCS: 0x%2.2x%2.2x%2.2x%2.2x\n", w[16], w[17], w[18], w[19]);
            break;
        case 11:
            zelk_printf("  Duration/ID: %d\n", get_le16(w + 2));
            zelk_printf("  RA: %s", mac_at(w + 4));
            zelk_printf(", TA: %s\n", mac_at(w + 10));
            print_fcs(w + 16);
            break;
        case 12:
        case 13:
            zelk_printf("  Duration/ID: %d\n", get_le16(w + 2));
            zelk_printf("  RA: %s", mac_at(w + 4));
            print_fcs(w + 10);
            break;
        case 14:
        case 15:
            zelk_printf("  Duration/ID: %d\n", get_le16(w + 2));
            zelk_printf("  RA: %s", mac_at(w + 4));
            zelk_printf("  BSSID: %s\n", mac_at(w + 10));
            print_fcs(w + 16);
            break;
        default: break;
    }
}

// Returns the header length (24, or 30 with the fourth address).
unsigned decode_data(const uint8_t* w, uint16_t fc) {
    zelk_printf("  Duration/ID: %d\n", get_le16(w + 2));
    zelk_printf("  More-Fragment: %d", fc & more_fragments);
    zelk_printf(", Retry: %d\n", fc & retry);
    zelk_printf("  Power-Management: %d", fc & power_management);
    zelk_printf(", More-Data: %d\n", fc & more_data);
    zelk_printf("  WEP: %d", fc & wep);
    zelk_printf(", Order: %d\n", fc & order);

    static const char* const labels[4][4] = {
        {"DA", "SA", "BSSID", nullptr},
        {"DA", "BSSID", "SA", nullptr},
        {"BSSID", "SA", "DA", nullptr},
        {"RA", "TA", "DA", "SA"},
    };
    unsigned ds = ((fc & to_ds) ? 2 : 0) | ((fc & from_ds) ? 1 : 0);
    // Rows are indexed by (to-DS, from-DS) in the order 00, 01, 10, 11.
    static const unsigned address_at[4] = {4, 10, 16, 24};
    for (int i = 0; i < 4 && labels[ds][i]; ++i) zelk_printf("  %s: %s\n", labels[ds][i], mac_at(w + address_at[i]));
    print_sequence(w);
    return ds == 3 ? 30 : 24;
}

}  // namespace

int decode_ieee80211(const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    const uint8_t* w = frame + offset;
    zelk_printf("\n- 802.11 Header -\n");
    if (lengths->captured_length <= 1) {
        zelk_printf("Error: Captured data length(%d bytes) < Frame Control length.\n",
                    static_cast<int>(lengths->captured_length));
        bump(counters.ieee80211_short);
        return 0;
    }
    uint16_t fc = get_le16(w);
    unsigned type = (fc & 0x000c) >> 2;
    unsigned subtype = (fc & 0x00f0) >> 4;
    zelk_printf("  Version: %d, Type: %d", fc & 3, type);
    print_name(type_names[type]);
    zelk_printf("\n  Subtype: %d", subtype);
    if (const char* name = subtype_name(type, subtype)) print_name(name);
    zelk_printf("\n");

    switch (type) {
        case management: decode_management(w, subtype); break;
        case control: decode_control(w, subtype); break;
        case data: {
            unsigned header_length = decode_data(w, fc);
            if (fc & wep) {
                zelk_printf("\n  Data: <WEP encrypted, not implemented @ the moment>\n");
            } else if (static_cast<size_t>(w + header_length - frame) < lengths->wire_length) {
                // Frames without a body (null data, polls without data)
                // have no LLC header to show.
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
    zelk_printf("\n- Prism Monitor Header -\n  Code: %d, ", static_cast<int>(get_le32(frame)));
    zelk_printf("Length: %d, Device: \"", static_cast<int>(get_le32(frame + 4)));
    print_text_bytes(frame + 8, 16);
    zelk_printf("\"\n");
    const uint8_t* item = frame + 24;
    for (size_t i = 0; i < std::size(items); ++i, item += 12) {
        zelk_printf("  -%s- DID: 0x%08x, Status: 0x%04x, Length: %d, Data: 0x%08x", items[i], get_le32(item),
                    get_le16(item + 4), get_le16(item + 6), get_le32(item + 8));
        if (i + 1 < std::size(items)) zelk_printf("\n");
    }
    bump(counters.prism);
    decode_ieee80211(lengths, frame, offset + capture.link_header_length);
    return 0;
}
