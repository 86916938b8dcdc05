#include "decode/link/radiotap.h"

#include <iterator>

#include "decode/decoder.h"
#include "decode/link/ieee80211.h"

namespace {

// Every radiotap field has a fixed size and is aligned to its natural
// boundary, counted from the start of the radiotap header. A field whose
// size we do not know hides where every later field lies, so decoding
// stops there.
struct field_layout {
    uint8_t align;
    uint8_t size;
};
constexpr field_layout layouts[] = {
    {8, 8},   // 0 TSFT
    {1, 1},   // 1 flags
    {1, 1},   // 2 rate
    {2, 4},   // 3 channel
    {1, 2},   // 4 FHSS
    {1, 1},   // 5 antenna signal, dBm
    {1, 1},   // 6 antenna noise, dBm
    {2, 2},   // 7 lock quality
    {2, 2},   // 8 TX attenuation
    {2, 2},   // 9 TX attenuation, dB
    {1, 1},   // 10 TX power, dBm
    {1, 1},   // 11 antenna
    {1, 1},   // 12 antenna signal, dB
    {1, 1},   // 13 antenna noise, dB
    {2, 2},   // 14 RX flags
    {2, 2},   // 15 TX flags
    {1, 1},   // 16 RTS retries
    {1, 1},   // 17 data retries
    {4, 8},   // 18 extended channel
    {1, 3},   // 19 MCS
    {4, 8},   // 20 A-MPDU status
    {2, 12},  // 21 VHT
    {8, 12},  // 22 timestamp
    {2, 12},  // 23 HE
    {2, 12},  // 24 HE-MU
    {2, 6},   // 25 HE-MU other user
    {1, 1},   // 26 zero-length PSDU
    {2, 4},   // 27 L-SIG
};

constexpr uint8_t fcs_at_end = 0x10;
constexpr unsigned fcs_length = 4;

constexpr uint32_t radiotap_namespace_next = 1u << 29, vendor_namespace_next = 1u << 30, more_bitmaps = 1u << 31;

constexpr code_name flag_names[] = {
    {0x01, "CFP"},        {0x02, "Short preamble"}, {0x04, "WEP"},     {0x08, "Fragmented"},
    {0x10, "FCS at end"}, {0x20, "Data pad"},       {0x40, "Bad FCS"}, {0x80, "Short GI"},
};
constexpr code_name channel_flag_names[] = {
    {0x0010, "Turbo"},
    {0x0020, "CCK"},
    {0x0040, "OFDM"},
    {0x0080, "2 GHz"},
    {0x0100, "5 GHz"},
    {0x0200, "Passive"},
    {0x0400, "Dynamic CCK-OFDM"},
    {0x0800, "GFSK"},
    {0x1000, "GSM"},
    {0x2000, "Static Turbo"},
    {0x4000, "Half rate"},
    {0x8000, "Quarter rate"},
};

// Under --verbose: the names of the set bits, " (a, b)".
// Recorded as the array <key>_name.
template <size_t N>
void print_bit_names(decode_context& cx, const char* names_key, const code_name (&table)[N], uint32_t bits) {
    if (!verbose()) return;
    const char* separator = " (";
    for (const auto& entry : table) {
        if (!(bits & entry.code)) continue;
        zelk_printf(cx.out, "%s%s", separator, entry.name);
        list_text(cx, names_key, entry.name);
        separator = ", ";
    }
    if (separator[0] == ',') zelk_printf(cx.out, ")");
}

uint64_t get_le64(decode_context& cx, const uint8_t* p) {
    return get_le32(cx, p) | uint64_t{get_le32(cx, p + 4)} << 32;
}

void print_bytes(decode_context& cx, const char* key, const char* name, const uint8_t* p, unsigned size) {
    need(cx, p, size);
    zelk_printf(cx.out, "  %s:", name);
    for (unsigned i = 0; i < size; ++i) zelk_printf(cx.out, " %02x", p[i]);
    zelk_printf(cx.out, "\n");
    record_hex(cx, key, p, size);
}

// A 64-bit counter; recorded as a number (microseconds fit a JSON number).
void print_u64(decode_context& cx, const char* key, const char* format, uint64_t value) {
    zelk_printf(cx.out, format, static_cast<unsigned long long>(value));
    record_number(cx, key, static_cast<long long>(value));
}

void print_field(decode_context& cx, unsigned index, const uint8_t* p) {
    switch (index) {
        case 0: print_u64(cx, "tsft", "  TSFT: %llu us\n", get_le64(cx, p)); break;
        case 1: {
            uint8_t flags = get_u8(cx, p);
            field(cx, "flags", "  Flags: 0x%02x", flags);
            print_bit_names(cx, "flags_name", flag_names, flags);
            zelk_printf(cx.out, "\n");
            break;
        }
        case 2: {
            // In units of 500 kb/s.
            unsigned rate = get_u8(cx, p);
            zelk_printf(cx.out, "  Rate: %u.%u Mb/s\n", rate / 2, rate % 2 * 5);
            record_number(cx, "rate_kbps", rate * 500L);
            break;
        }
        case 3: {
            unsigned frequency = get_le16(cx, p);
            uint16_t flags = get_le16(cx, p + 2);
            field(cx, "channel_frequency", "  Channel: %u MHz", frequency);
            field(cx, "channel_flags", ", Flags: 0x%04x", flags);
            print_bit_names(cx, "channel_flags_name", channel_flag_names, flags);
            zelk_printf(cx.out, "\n");
            break;
        }
        case 4:
            field(cx, "hop_set", "  Hop Set: %u", get_u8(cx, p));
            field(cx, "hop_pattern", ", Hop Pattern: %u\n", get_u8(cx, p + 1));
            break;
        case 5:
            field(cx, "antenna_signal_dbm", "  Antenna Signal: %d dBm\n", static_cast<int8_t>(get_u8(cx, p)));
            break;
        case 6: field(cx, "antenna_noise_dbm", "  Antenna Noise: %d dBm\n", static_cast<int8_t>(get_u8(cx, p))); break;
        case 7: field(cx, "lock_quality", "  Lock Quality: %u\n", get_le16(cx, p)); break;
        case 8: field(cx, "tx_attenuation", "  TX Attenuation: %u\n", get_le16(cx, p)); break;
        case 9: field(cx, "tx_attenuation_db", "  TX Attenuation: %u dB\n", get_le16(cx, p)); break;
        case 10: field(cx, "tx_power_dbm", "  TX Power: %d dBm\n", static_cast<int8_t>(get_u8(cx, p))); break;
        case 11: field(cx, "antenna", "  Antenna: %u\n", get_u8(cx, p)); break;
        case 12: field(cx, "antenna_signal_db", "  Antenna Signal: %u dB\n", get_u8(cx, p)); break;
        case 13: field(cx, "antenna_noise_db", "  Antenna Noise: %u dB\n", get_u8(cx, p)); break;
        case 14: field(cx, "rx_flags", "  RX Flags: 0x%04x\n", get_le16(cx, p)); break;
        case 15: field(cx, "tx_flags", "  TX Flags: 0x%04x\n", get_le16(cx, p)); break;
        case 16: field(cx, "rts_retries", "  RTS Retries: %u\n", get_u8(cx, p)); break;
        case 17: field(cx, "data_retries", "  Data Retries: %u\n", get_u8(cx, p)); break;
        case 18:
            need(cx, p, 8);
            field(cx, "xchannel_frequency", "  XChannel: %u MHz", get_le16(cx, p + 4));
            field(cx, "xchannel_channel", ", Channel: %u", p[6]);
            field(cx, "xchannel_flags", ", Flags: 0x%08x", get_le32(cx, p));
            field(cx, "xchannel_max_power", ", Max Power: %u\n", p[7]);
            break;
        case 19:
            need(cx, p, 3);
            field(cx, "mcs_known", "  MCS: Known: 0x%02x", p[0]);
            field(cx, "mcs_flags", ", Flags: 0x%02x", p[1]);
            field(cx, "mcs_index", ", Index: %u\n", p[2]);
            break;
        case 20:
            need(cx, p, 8);
            field(cx, "ampdu_reference", "  A-MPDU: Reference: %u", get_le32(cx, p));
            field(cx, "ampdu_flags", ", Flags: 0x%04x", get_le16(cx, p + 4));
            field(cx, "ampdu_delimiter_crc", ", Delimiter CRC: 0x%02x\n", p[6]);
            break;
        case 21:
            need(cx, p, 12);
            field(cx, "vht_known", "  VHT: Known: 0x%04x", get_le16(cx, p));
            field(cx, "vht_flags", ", Flags: 0x%02x", p[2]);
            field(cx, "vht_bandwidth", ", Bandwidth: %u", p[3]);
            zelk_printf(cx.out, ", MCS/NSS: %02x %02x %02x %02x", p[4], p[5], p[6], p[7]);
            record_hex(cx, "vht_mcs_nss", p + 4, 4);
            field(cx, "vht_coding", ", Coding: 0x%02x", p[8]);
            field(cx, "vht_group_id", ", Group ID: %u", p[9]);
            field(cx, "vht_partial_aid", ", Partial AID: %u\n", get_le16(cx, p + 10));
            break;
        case 22:
            need(cx, p, 12);
            print_u64(cx, "timestamp", "  Timestamp: %llu", get_le64(cx, p));
            field(cx, "timestamp_accuracy", ", Accuracy: %u", get_le16(cx, p + 8));
            field(cx, "timestamp_unit_position", ", Unit/Position: 0x%02x", p[10]);
            field(cx, "timestamp_flags", ", Flags: 0x%02x\n", p[11]);
            break;
        case 23: print_bytes(cx, "he", "HE", p, 12); break;
        case 24: print_bytes(cx, "he_mu", "HE-MU", p, 12); break;
        case 25: print_bytes(cx, "he_mu_user", "HE-MU User", p, 6); break;
        case 26: field(cx, "zero_length_psdu", "  Zero-Length PSDU: %u\n", get_u8(cx, p)); break;
        case 27: print_bytes(cx, "lsig", "L-SIG", p, 4); break;
        default: break;
    }
}

unsigned aligned(unsigned position, unsigned alignment) { return (position + alignment - 1) / alignment * alignment; }

// Prints the fields the present bitmaps announce, up to the first one that
// cannot be placed (unknown, or past the header length). Returns the flags
// field (0 when absent).
uint8_t decode_fields(decode_context& cx, const uint8_t* r, unsigned length, unsigned bitmaps) {
    uint8_t flags = 0;
    unsigned position = 4 + 4 * bitmaps;
    // Bit numbers go on across the bitmaps of one namespace; a namespace
    // switch starts them over. Vendor namespaces are skipped whole.
    unsigned base = 0;
    bool vendor = false;
    for (unsigned i = 0; i < bitmaps; ++i) {
        uint32_t present = get_le32(cx, r + 4 + 4 * i);
        for (unsigned bit = 0; !vendor && bit < 29; ++bit) {
            if (!(present & (1u << bit))) continue;
            unsigned index = base + bit;
            if (index >= std::size(layouts)) {
                field(cx, "unknown_field", "  Unknown field %u: the fields behind it are not shown\n", index);
                return flags;
            }
            position = aligned(position, layouts[index].align);
            if (position + layouts[index].size > length) {
                zelk_printf(cx.out, "  Error: Radiotap fields run past the header length(%u bytes).\n", length);
                record_text(cx, "error", "fields run past the header length");
                return flags;
            }
            print_field(cx, index, r + position);
            if (index == 1) flags = get_u8(cx, r + position);
            position += layouts[index].size;
        }
        base += 32;
        if (!(present & more_bitmaps)) break;
        if (present & radiotap_namespace_next) {
            vendor = false;
            base = 0;
        } else if (present & vendor_namespace_next) {
            vendor = true;
            base = 0;
            position = aligned(position, 2);
            if (position + 6 > length) {
                zelk_printf(cx.out, "  Error: Radiotap fields run past the header length(%u bytes).\n", length);
                record_text(cx, "error", "fields run past the header length");
                return flags;
            }
            const uint8_t* v = r + position;
            unsigned skip = get_le16(cx, v + 4);
            item(cx, "vendor_namespaces");
            field(cx, "oui", "  Vendor Namespace: OUI 0x%06x", get_be32(cx, v) >> 8);
            field(cx, "sub_namespace", ", Sub Namespace: %u", get_u8(cx, v + 3));
            field(cx, "skip_length", ", Skip Length: %u\n", skip);
            item_end(cx);
            position += 6 + skip;
        }
    }
    return flags;
}

}  // namespace

int decode_radiotap(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    const uint8_t* r = frame + offset;
    layer(cx, "radiotap", "\n- Radiotap Header -\n");
    unsigned version = get_u8(cx, r);
    unsigned length = get_le16(cx, r + 2);
    field(cx, "version", "  Version: %u", version);
    field(cx, "length", ", Length: %u\n", length);
    if (version != 0) {
        // Another version may lay out everything differently.
        zelk_printf(cx.out, "  Error: Unknown radiotap version.\n");
        record_text(cx, "error", "unknown radiotap version");
        return 0;
    }
    if (length < 8) {
        zelk_printf(cx.out, "  Error: Radiotap header length(%u bytes) < 8.\n", length);
        record_text(cx, "error", "header length below 8");
        return 0;
    }

    // The bitmaps chain on while their top bit is set; they must end
    // inside the header.
    unsigned bitmaps = 0;
    uint32_t present;
    zelk_printf(cx.out, "  Present: ");
    do {
        if (4 + 4 * (bitmaps + 1) > length) {
            zelk_printf(cx.out, "\n  Error: Radiotap fields run past the header length(%u bytes).\n", length);
            record_text(cx, "error", "fields run past the header length");
            return 0;
        }
        present = get_le32(cx, r + 4 + 4 * bitmaps);
        zelk_printf(cx.out, bitmaps ? ", 0x%08x" : "0x%08x", present);
        list_number(cx, "present", present);
        ++bitmaps;
    } while (present & more_bitmaps);
    zelk_printf(cx.out, "\n");

    uint8_t flags = decode_fields(cx, r, length, bitmaps);
    // The header length says where the 802.11 frame begins, whatever the
    // fields held.
    unsigned start = offset + length;
    frame_lengths body = *lengths;
    if ((flags & fcs_at_end) && body.wire_length >= start + fcs_length) {
        // The last four bytes on the wire are the frame check sequence, not
        // frame body: the 802.11 decoder gets the frame without them.
        body.wire_length -= fcs_length;
        // Control frames show it in their own lines; recorded here for all.
        const uint8_t* fcs = frame + body.wire_length;
        if (in_frame(cx, fcs, fcs_length)) record_number(cx, "fcs", get_be32(cx, fcs));
        if (body.captured_length > body.wire_length) body.captured_length = body.wire_length;
    }
    decode_ieee80211(cx, &body, frame, start);
    return 0;
}
