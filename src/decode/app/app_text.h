// Small helpers the application decoders share.
#pragma once

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>

#include "decode/decoder.h"

// n captured bytes as text by the character rule (unprintable bytes as
// '.'); throws when they were not all captured.
inline std::string printable_text(const decode_context& cx, const uint8_t* p, size_t n) {
    need(cx, p, n);
    std::string s(reinterpret_cast<const char*>(p), n);
    for (char& c : s)
        if (!printable_byte(static_cast<uint8_t>(c))) c = '.';
    return s;
}

// A structure inside a message: reads stay within [p, end) of the
// structure and within the captured bytes. A length that runs past its
// structure throws overrun.
struct overrun {};

struct bounded {
    const decode_context* cx;
    const uint8_t* p;
    const uint8_t* end;

    size_t left() const { return p < end ? static_cast<size_t>(end - p) : 0; }
    const uint8_t* take(size_t n) {
        if (n > left()) throw overrun{};
        const uint8_t* at = p;
        p += n;
        return at;
    }
    uint8_t u8() { return get_u8(*cx, take(1)); }
    uint16_t be16() { return get_be16(*cx, take(2)); }
    uint32_t be24() {
        const uint8_t* at = take(3);
        return (uint32_t{get_u8(*cx, at)} << 16) | get_be16(*cx, at + 1);
    }
    uint32_t be32() { return get_be32(*cx, take(4)); }
    // The next n bytes as a structure of their own.
    bounded sub(size_t n) {
        const uint8_t* at = take(n);
        return bounded{cx, at, at + n};
    }
};
