#include "decode/decoder.h"

#include <cctype>
#include <cstring>
#include <vector>

void throw_truncated() { throw truncated{}; }

void set_ip_payload(const uint8_t* start, size_t length) {
    size_t have = captured_from(start, length);
    current_frame.ip_payload_end = in_frame(start, 0) ? start + have : current_frame.end;
    current_frame.ip_payload_cut = have < length;
}

uint16_t expected_checksum(const uint8_t* p, size_t length, size_t field_offset, int start_sum) {
    static std::vector<uint8_t> copy;
    need(p, length);
    copy.assign(p, p + length);
    if (field_offset + 2 <= length) copy[field_offset] = copy[field_offset + 1] = 0;
    int sum = zelk_in_cksum(copy.data(), static_cast<int>(length), start_sum);
    return static_cast<uint16_t>(zelk_ntohs(static_cast<uint16_t>(sum)));
}

void print_checksum_verdict(const char* key, uint16_t transmitted, uint16_t expected, uint32_t& bad_counter,
                            const char* tail) {
    if (settings.record_fields) {
        frame_record.entries.push_back(record_entry{entry_kind::verdict, key, expected, transmitted == expected, 0});
        if (transmitted != expected) bump(bad_counter);
        return;
    }
    if (transmitted == expected) {
        zelk_printf(" (correct checksum)%s", tail);
    } else {
        zelk_printf(" (incorrect checksum - should be 0x%04x)%s", expected, tail);
        bump(bad_counter);
    }
}

void print_checksum_offloaded(const char* key, const char* tail) {
    if (settings.record_fields)
        frame_record.entries.push_back(record_entry{entry_kind::offloaded, key, 0, 0, 0});
    else
        zelk_printf(" (checksum offloaded)%s", tail);
}

static bool record_dump(const uint8_t* start, unsigned count) {
    if (!settings.record_fields) return false;
    if (current_frame.decoding) {
        record_hex("data_hex", start, count);
    } else {
        frame_record.raw_hex.clear();
        static const char digits[] = "0123456789abcdef";
        for (unsigned i = 0; i < count; ++i) {
            frame_record.raw_hex.push_back(digits[start[i] >> 4]);
            frame_record.raw_hex.push_back(digits[start[i] & 0x0f]);
        }
    }
    return true;
}

void hex_dump(const uint8_t* start, unsigned count) {
    if (record_dump(start, count)) return;
    uint16_t line = 0;
    for (unsigned i = 0; i < count; ++i) {
        if (i % 12 == 0) zelk_printf("\n0x%04x:", ++line);
        zelk_printf(" %02x", start[i]);
    }
    zelk_printf("\n");
}

void print_char(uint8_t c) { zelk_printf("%c", isprint(c) ? c : '.'); }

void text_dump(const uint8_t* start, unsigned count) {
    if (record_dump(start, count)) return;
    zelk_printf(" ");
    for (unsigned i = 0; i < count; ++i) {
        if (i % 70 == 0) zelk_printf("\n ");
        print_char(start[i]);
    }
    zelk_printf("\n");
}

void print_text_bytes(const uint8_t* p, size_t n) {
    need(p, n);
    for (size_t i = 0; i < n; ++i) print_char(p[i]);
}
