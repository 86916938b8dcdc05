#include "decode/decoder.h"

#include <cctype>
#include <cstring>
#include <vector>

void throw_truncated() { throw truncated{}; }

void set_ip_payload(decode_context& cx, const uint8_t* start, size_t length) {
    size_t have = captured_from(cx, start, length);
    cx.ip_payload_end = in_frame(cx, start, 0) ? start + have : cx.end;
    cx.ip_payload_cut = have < length;
}

uint16_t expected_checksum(decode_context& cx, const uint8_t* p, size_t length, size_t field_offset, int start_sum) {
    std::vector<uint8_t>& copy = cx.scratch;
    need(cx, p, length);
    copy.assign(p, p + length);
    if (field_offset + 2 <= length) copy[field_offset] = copy[field_offset + 1] = 0;
    int sum = zelk_in_cksum(copy.data(), static_cast<int>(length), start_sum);
    return static_cast<uint16_t>(zelk_ntohs(static_cast<uint16_t>(sum)));
}

void print_checksum_verdict(decode_context& cx, const char* key, uint16_t transmitted, uint16_t expected,
                            uint32_t& bad_counter, const char* tail) {
    if (recording()) {
        cx.record.entries.push_back(record_entry{entry_kind::verdict, key, expected, transmitted == expected, 0});
        if (transmitted != expected) bump(bad_counter);
        return;
    }
    if (transmitted == expected) {
        zelk_printf(cx.out, " (correct checksum)%s", tail);
    } else {
        zelk_printf(cx.out, " (incorrect checksum - should be 0x%04x)%s", expected, tail);
        bump(bad_counter);
    }
}

void print_checksum_offloaded(decode_context& cx, const char* key, const char* tail) {
    if (recording())
        cx.record.entries.push_back(record_entry{entry_kind::offloaded, key, 0, 0, 0});
    else
        zelk_printf(cx.out, " (checksum offloaded)%s", tail);
}

static bool record_dump(decode_context& cx, const uint8_t* start, unsigned count) {
    if (!recording()) return false;
    if (cx.decoding) {
        record_hex(cx, "data_hex", start, count);
    } else {
        cx.record.raw_hex.clear();
        static const char digits[] = "0123456789abcdef";
        for (unsigned i = 0; i < count; ++i) {
            cx.record.raw_hex.push_back(digits[start[i] >> 4]);
            cx.record.raw_hex.push_back(digits[start[i] & 0x0f]);
        }
    }
    return true;
}

void hex_dump(decode_context& cx, const uint8_t* start, unsigned count) {
    if (record_dump(cx, start, count)) return;
    uint16_t line = 0;
    for (unsigned i = 0; i < count; ++i) {
        if (i % 12 == 0) zelk_printf(cx.out, "\n0x%04x:", ++line);
        zelk_printf(cx.out, " %02x", start[i]);
    }
    zelk_printf(cx.out, "\n");
}

void print_char(decode_context& cx, uint8_t c) { zelk_printf(cx.out, "%c", printable_byte(c) ? c : '.'); }

void text_dump(decode_context& cx, const uint8_t* start, unsigned count) {
    if (record_dump(cx, start, count)) return;
    zelk_printf(cx.out, " ");
    for (unsigned i = 0; i < count; ++i) {
        if (i % 70 == 0) zelk_printf(cx.out, "\n ");
        print_char(cx, start[i]);
    }
    zelk_printf(cx.out, "\n");
}

void print_text_bytes(decode_context& cx, const uint8_t* p, size_t n) {
    need(cx, p, n);
    for (size_t i = 0; i < n; ++i) print_char(cx, p[i]);
}
