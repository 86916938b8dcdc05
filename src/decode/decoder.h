// The decoder toolkit: checked reads, dumps, name tables and the
// expand/verbose/checksum helpers every protocol decoder uses.
#pragma once

#include <cstddef>
#include <cstdint>

#include "capture/frame.h"
#include "decode/context.h"
#include "decode/fields.h"
#include "driver/settings.h"
#include "stats/counters.h"
#include "zelk.h"

// Thrown by a checked read that would reach past the captured bytes; the
// capture source catches it and prints one marker line.
struct truncated {};

[[noreturn]] void throw_truncated();

// True when n bytes from p lie inside the captured frame.
inline bool in_frame(const decode_context& cx, const uint8_t* p, size_t n) {
    auto a = reinterpret_cast<uintptr_t>(p);
    auto s = reinterpret_cast<uintptr_t>(cx.start);
    auto e = reinterpret_cast<uintptr_t>(cx.end);
    return a >= s && a <= e && n <= e - a;
}

inline void need(const decode_context& cx, const uint8_t* p, size_t n) {
    if (!in_frame(cx, p, n)) throw_truncated();
}

inline uint8_t get_u8(const decode_context& cx, const uint8_t* p) {
    need(cx, p, 1);
    return p[0];
}
inline uint16_t get_be16(const decode_context& cx, const uint8_t* p) {
    need(cx, p, 2);
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
inline uint32_t get_be32(const decode_context& cx, const uint8_t* p) {
    need(cx, p, 4);
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
inline uint16_t get_le16(const decode_context& cx, const uint8_t* p) {
    need(cx, p, 2);
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t get_le32(const decode_context& cx, const uint8_t* p) {
    need(cx, p, 4);
    return (uint32_t{p[3]} << 24) | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
}

// How many of `want` bytes from p were captured (0 when p lies outside).
inline size_t captured_from(const decode_context& cx, const uint8_t* p, size_t want) {
    auto a = reinterpret_cast<uintptr_t>(p);
    auto s = reinterpret_cast<uintptr_t>(cx.start);
    auto e = reinterpret_cast<uintptr_t>(cx.end);
    if (a < s || a > e) return 0;
    size_t have = e - a;
    return want < have ? want : have;
}

// Bytes captured from p to the end of the frame.
inline size_t captured_rest(const decode_context& cx, const uint8_t* p) { return captured_from(cx, p, SIZE_MAX); }

// Where a decoder behind the link header finds its first byte.
inline const uint8_t* header_at(const decode_context& cx, const uint8_t* frame, unsigned offset) {
    return frame + cx.link_header_length + offset;
}

// The IP payload of the packet being decoded. The IPv4/IPv6 decoders call
// set_ip_payload before they hand on; checksummed messages end there.
void set_ip_payload(decode_context& cx, const uint8_t* start, size_t length);
inline const uint8_t* ip_payload_end(const decode_context& cx) { return cx.ip_payload_end; }
// Bytes of a message from p to the end of the IP payload (captured ones).
inline size_t ip_message_length(const decode_context& cx, const uint8_t* p) {
    auto a = reinterpret_cast<uintptr_t>(p);
    auto e = reinterpret_cast<uintptr_t>(cx.ip_payload_end);
    return a < e ? captured_from(cx, p, e - a) : 0;
}
// A message cut by the snap length cannot have its checksum judged.
inline bool checksum_judgeable(const decode_context& cx) { return !cx.ip_payload_cut; }

// The checksum a message should carry, computed over a copy of `length`
// bytes from p with the 16-bit field at field_offset taken as zero, and
// given as the field reads in network order. start_sum seeds the sum
// (a pseudo-header) as zelk_in_cksum takes it.
uint16_t expected_checksum(decode_context& cx, const uint8_t* p, size_t length, size_t field_offset, int start_sum = 0);

// Prints " (correct checksum)" or " (incorrect checksum - should be
// 0x%04x)" followed by `tail`, and counts a bad one; recorded as
// <key>_ok and <key>_expected.
void print_checksum_verdict(decode_context& cx, const char* key, uint16_t transmitted, uint16_t expected,
                            uint32_t& bad_counter, const char* tail = "");
inline void print_checksum_verdict(decode_context& cx, uint16_t transmitted, uint16_t expected, uint32_t& bad_counter,
                                   const char* tail = "") {
    print_checksum_verdict(cx, "checksum", transmitted, expected, bad_counter, tail);
}

// Prints " (checksum offloaded)" followed by `tail` where a verdict would
// stand: the sender left the checksum to its network card, so the value
// seen is not the one sent. Counts nothing; recorded as <key>_offloaded.
void print_checksum_offloaded(decode_context& cx, const char* key, const char* tail = "");

// Expanded view: the protocol's own switch or --expand-all.
// A structured record always holds the expanded view.
inline bool expanded(bool protocol_switch) { return protocol_switch || settings.expand_all || recording(); }

// A short text (an address) handed back by value, so that no buffer is
// shared between calls or threads. Pass .c_str() to printf-like calls.
struct short_text {
    short_text() { text[0] = 0; }
    // Not trivially copyable on purpose: passing one to a printf-like call
    // (instead of its c_str()) then fails to compile.
    short_text(const short_text& other) { __builtin_memcpy(text, other.text, sizeof text); }
    char text[48];
    const char* c_str() const { return text; }
    operator const char*() const { return text; }
};

// Name tables.
struct code_name {
    uint32_t code;
    const char* name;
};

template <size_t N>
constexpr const char* find_name(const code_name (&table)[N], uint32_t code, const char* fallback) {
    for (const auto& entry : table)
        if (entry.code == code) return entry.name;
    return fallback;
}

template <size_t N>
constexpr const char* dense_name(const char* const (&table)[N], uint32_t code, const char* fallback) {
    return code < N && table[code] ? table[code] : fallback;
}

// Under --verbose: " (name)" behind the number just printed (unkeyed: text
// only).
inline void print_name(decode_context& cx, const char* name) {
    if (settings.verbose) zelk_printf(cx.out, " (%s)", name);
}

// Payload dumps over bytes the caller has bounded; recorded as data_hex
// (inside a frame's decoding) or as the frame's raw_hex (after it).
void hex_dump(decode_context& cx, const uint8_t* start, unsigned count);
void text_dump(decode_context& cx, const uint8_t* start, unsigned count);

// Prints n bytes of a counted string by the character rule; throws when
// they were not all captured.
void print_text_bytes(decode_context& cx, const uint8_t* p, size_t n);
void print_char(decode_context& cx, uint8_t c);

// The character rule: bytes 0x20-0x7e print as themselves, others as '.'.
// (The program never changes the C locale, so this is isprint's answer
// without the call.)
inline bool printable_byte(uint8_t c) { return c >= 0x20 && c < 0x7f; }
