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

void print_checksum_verdict(uint16_t transmitted, uint16_t expected, uint32_t& bad_counter, const char* tail) {
    if (transmitted == expected) {
        zelk_printf(" (correct checksum)%s", tail);
    } else {
        zelk_printf(" (incorrect checksum - should be 0x%04x)%s", expected, tail);
        bump(bad_counter);
    }
}

void hex_dump(const uint8_t* start, unsigned count) {
    uint16_t line = 0;
    for (unsigned i = 0; i < count; ++i) {
        if (i % 12 == 0) zelk_printf("\n0x%04x:", ++line);
        zelk_printf(" %02x", start[i]);
    }
    zelk_printf("\n");
}

void print_char(uint8_t c) { zelk_printf("%c", isprint(c) ? c : '.'); }

void text_dump(const uint8_t* start, unsigned count) {
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
