// The engine of the line-based text protocols: lines of one segment's
// payload, a request or status line split into words, command and reply
// lines, and "Name: value" header blocks. Every read stays within the
// message and the captured bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "decode/decoder.h"

// One line without its end of line; `next` is where the following line
// starts, or null when the segment ends inside the line.
struct text_line {
    const uint8_t* start;
    size_t length;
    const uint8_t* next;
};

text_line next_line(decode_context& cx, const uint8_t* p, const uint8_t* end);
// The line's text by the character rule (unprintable bytes as '.').
std::string line_text(decode_context& cx, const text_line& line);

bool starts_with(const uint8_t* p, size_t n, const char* prefix);
bool starts_with_nocase(const std::string& text, const char* prefix);

// The first blank-separated word of `rest`, removed from it with the
// blanks that follow.
std::string take_word(std::string& rest);

// "220 text" or "220-text": a three-digit reply code.
struct reply_line {
    unsigned code;
    bool continues;  // '-': more lines of the same reply follow
    std::string text;
};
bool parse_reply(const std::string& line, reply_line& reply);

// A command word: 3 to 12 letters (digits after the first), then a blank
// or the end of the line.
bool parse_command(const std::string& line, std::string& verb, std::string& argument);

// Walks the lines of [p, end), at most max_text_lines of them. The handler
// gets each complete line's text and its index; a line cut by the segment's
// end is handed back through `cut` (its text so far). Returns the number of
// complete lines.
constexpr unsigned max_text_lines = 4096;
template <typename F>
unsigned for_each_line(decode_context& cx, const uint8_t* p, const uint8_t* end, F&& handler,
                       std::string* cut = nullptr) {
    unsigned n = 0;
    while (p < end && n < max_text_lines) {
        text_line line = next_line(cx, p, end);
        if (!line.next) {
            if (cut) *cut = line_text(cx, line);
            break;
        }
        handler(line_text(cx, line), n++);
        p = line.next;
    }
    return n;
}

// "Name: value" lines up to the empty line. The handler gets the name and
// the value without the blanks around it; a line without a colon gets an
// empty name. Returns where the body begins, or null when the head does
// not end inside the segment.
template <typename F>
const uint8_t* for_each_header(decode_context& cx, const uint8_t* p, const uint8_t* end, F&& handler) {
    for (unsigned n = 0; p < end && n < max_text_lines; ++n) {
        text_line line = next_line(cx, p, end);
        if (!line.next) return nullptr;
        if (!line.length) return line.next;
        std::string text = line_text(cx, line);
        size_t colon = text.find(':');
        if (colon == std::string::npos) {
            handler(std::string(), text);
        } else {
            size_t v = colon + 1;
            while (v < text.size() && (text[v] == ' ' || text[v] == '\t')) ++v;
            size_t name_end = colon;
            while (name_end && (text[name_end - 1] == ' ' || text[name_end - 1] == '\t')) --name_end;
            handler(text.substr(0, name_end), text.substr(v));
        }
        p = line.next;
    }
    return nullptr;
}

// A command/reply protocol (FTP, SMTP, POP3, IMAP): one layer per segment,
// one item "lines" per line; the first line by default, every line under
// --expand-all. `line` says whether a line belongs to the protocol and,
// when `print` is set, prints and records it; a first line that does not
// belong is message content, shown by its length, and then by `content`
// when the protocol has more to say about it (the head of a mail).
struct exchange_protocol {
    const char* proto;
    const char* banner;
    uint32_t protocol_counters::*counter;
    bool (*line)(decode_context& cx, const std::string& text, bool print);
    void (*content)(decode_context& cx, const uint8_t* p, const uint8_t* end) = nullptr;
};
int decode_exchange(decode_context& cx, const uint8_t* frame, unsigned offset, const exchange_protocol& protocol);

// Prints "  Reply: 220, Text: ..." for a reply line.
void print_reply(decode_context& cx, const reply_line& reply);
// Prints "  Command: VERB, Argument: ...".
void print_command(decode_context& cx, const std::string& verb, const std::string& argument);
