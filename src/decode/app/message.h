// What the application decoders share: a message bounded by its own end
// (the end of the IP payload, or a length field) as well as by the
// captured bytes, and one way to say that it is malformed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "decode/app/app_text.h"
#include "decode/decoder.h"

// Thrown when the message itself is wrong (a length, pointer or nesting
// that the bytes do not bear out). The decoder catches it, says so in one
// line and stops; the transport's dumps still follow.
struct malformed_message {
    const char* reason;
    bool continues = false;  // not wrong, only longer than this segment
};

struct message {
    const decode_context* cx;
    const uint8_t* start;
    size_t length;
    // The capture cut the message short: reading past its end is
    // truncation, not a fault of the sender.
    bool cut;
    // A TCP segment holds only part of the message.
    bool continues = false;

    const uint8_t* at(size_t offset, size_t n) const {
        if (offset > length || n > length - offset) past_end();
        need(*cx, start + offset, n);
        return start + offset;
    }
    uint8_t u8(size_t offset) const { return *at(offset, 1); }
    uint16_t be16(size_t offset) const { return get_be16(*cx, at(offset, 2)); }
    uint32_t be32(size_t offset) const { return get_be32(*cx, at(offset, 4)); }
    [[noreturn]] void past_end() const;
};

// A cursor over the part [at, end) of a message: a read past `end` throws
// malformed_message{overrun}, one past the captured bytes throws as the
// message's own reads do.
struct message_cursor {
    const message& m;
    size_t at;
    size_t end;
    const char* overrun;

    size_t left() const { return end > at ? end - at : 0; }
    const uint8_t* take(size_t n) {
        if (n > left()) throw malformed_message{overrun};
        const uint8_t* p = m.at(at, n);
        at += n;
        return p;
    }
    uint8_t u8() { return *take(1); }
    uint16_t be16() { return get_be16(*m.cx, take(2)); }
    uint32_t be24() {
        const uint8_t* p = take(3);
        return uint32_t{p[0]} << 16 | get_be16(*m.cx, p + 1);
    }
    uint32_t be32() { return get_be32(*m.cx, take(4)); }
};

// The transport payload at offset, up to the end of the IP payload.
message payload_message(decode_context& cx, const uint8_t* frame, unsigned offset);

// Prints "  [malformed: reason]" (or that the message continues in a later
// segment), records it as "error" and marks the frame malformed.
void report_malformed(decode_context& cx, const malformed_message& m);

// Closes the item opened just before it, also when a read throws.
struct item_closer {
    explicit item_closer(decode_context& cx) : cx(cx) {}
    item_closer(const item_closer&) = delete;
    item_closer& operator=(const item_closer&) = delete;
    ~item_closer() { item_end(cx); }
    decode_context& cx;
};

// IPv6 address text of the 16 bytes at a (checked), in a static buffer.
short_text ipv6_text(const decode_context& cx, const uint8_t* a);

