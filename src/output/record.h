// The record of one frame's fields, kept while --json or --summary is on.
// Decoders fill it through the field API (decode/fields.h); the writers
// read it when the frame is done.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// True on this thread while a frame is decoded into its record only, to be
// judged by --where before any text is made for it.
extern constinit thread_local bool record_pass;

enum class entry_kind : uint8_t {
    layer,        // key: the protocol name; the fields after it belong to it
    number,       // key: number
    unsigned_number,  // key: number, the bits of an unsigned value
    text,         // key: text
    boolean,      // key: number != 0
    name,         // <key>_name: text
    verdict,      // <key>_ok: text_at != 0, <key>_expected: number
    offloaded,    // <key>_offloaded: true
    item,         // opens an object appended to the array <key>
    item_end,     // closes the object the last item opened
    list_number,  // number appended to the array <key>
    list_text,    // text appended to the array <key>
    note,         // the layer's facts for the summary line, not in JSON
};

struct record_entry {
    entry_kind kind;
    const char* key;  // a string literal: keys live for the whole run
    long long number;
    uint32_t text_at;  // text: offset and length in frame_record_data::texts
    uint32_t text_length;
};

struct frame_record_data {
    unsigned long number;
    long seconds;
    unsigned microseconds;
    unsigned nano_rest;  // nanoseconds past the microsecond (0-999)
    uint32_t captured_length;
    uint32_t wire_length;
    int link_type;
    bool truncated;
    bool malformed;
    bool in_frame;       // between begin_frame and end_frame
    // --where's verdict when it was reached before the frame's end: 0 not
    // yet, 1 shown, 2 rejected (see where_rejects_early).
    uint8_t early_verdict;
    char time_text[64];  // as the frame line shows it; empty outside a run
    std::vector<record_entry> entries;
    std::string texts;
    std::string raw_hex;  // the whole frame, when a raw dump was asked for
};

// The capture sources call these around every frame, before its frame line
// and after its side work (dumps, server, raw log).
struct decode_context;
struct zelk_text;
void begin_frame(decode_context& cx, long seconds, unsigned microseconds, uint32_t captured_length,
                 uint32_t wire_length);
// Hands the record to the JSON or summary writer; false (and nothing
// written) when --where rejects the frame.
bool end_frame(decode_context& cx);
// Under a --where that reads only what identifies a conversation (see
// where_settles_early), judges the frame once its TCP or UDP header is
// recorded; true when the frame is rejected, and the decoder then goes no
// further.
bool where_rejects_early(decode_context& cx);
// The frame was cut: how the marker line would have said it.
void mark_frame_cut(decode_context& cx, bool malformed);

// Writers: one line for the frame's record, appended to `out`.
void write_json_frame(const frame_record_data& r, zelk_text& out);
void write_json_statistics();
void write_summary_line(decode_context& cx);

// Appends a writer's line to `out`, whether or not decoded text is
// suppressed (the quiet modes still hold).
void write_record_line(zelk_text& out, const char* text, size_t length);

// Entries, used by the field API.
void add_entry(frame_record_data& r, entry_kind kind, const char* key, long long number);
void add_text_entry(frame_record_data& r, entry_kind kind, const char* key, const char* text, size_t length);
void add_hex_entry(frame_record_data& r, const char* key, const uint8_t* bytes, size_t length);
inline std::string_view entry_text(const frame_record_data& r, const record_entry& e) {
    return std::string_view(r.texts).substr(e.text_at, e.text_length);
}
