// The field API: a decoder states each field once. In text mode the call
// prints the field's text fragment; under --json or --summary it records the
// key and value for the structured writers instead, and the text printer is
// switched off. Formats are checked and split when the program is compiled,
// so printing a field parses nothing at run time.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

#include "decode/context.h"
#include "driver/settings.h"
#include "output/record.h"
#include "zelk.h"

// True while fields are recorded rather than printed: under --json and
// --summary, and in the first look --where takes at a frame.
inline bool recording() { return settings.record_fields || record_pass; }

// Under --verbose, and always when recording: a structured record carries
// everything the most detailed text would show.
inline bool verbose() { return settings.verbose || recording(); }

// Names looked up in the system's tables (services, vendors): the summary
// line never shows them, so it skips the lookups.
// Under --where they are made for the record it judges when the expression
// names such a key, never for the text.
inline bool lookup_names() { return settings.verbose || settings.json || (settings.where_lookups && recording()); }

// Not constexpr on purpose: reaching it while a format is checked at
// compile time stops the build with this function's name in the message.
void field_format_has_an_error();

// A format with exactly one conversion, [0][width][l]{d,u,x,X,c} for
// numbers or %s for text, split into the text before and after it.
template <typename T>
struct field_format {
    const char* prefix;
    const char* suffix;
    uint16_t prefix_length;
    uint16_t suffix_length;
    zelk_conversion conversion;

    consteval field_format(const char* f) : prefix(f), suffix(f), prefix_length(0), suffix_length(0), conversion{} {
        size_t i = 0;
        bool found = false;
        while (f[i]) {
            if (f[i] != '%') {
                ++i;
                continue;
            }
            if (found || f[i + 1] == '%') field_format_has_an_error();
            found = true;
            prefix_length = static_cast<uint16_t>(i);
            ++i;
            if (f[i] == '0') {
                conversion.zero = true;
                ++i;
            }
            unsigned width = 0;
            while (f[i] >= '0' && f[i] <= '9') width = width * 10 + static_cast<unsigned>(f[i++] - '0');
            if (width > 64) field_format_has_an_error();
            conversion.width = static_cast<uint8_t>(width);
            if (f[i] == 'l') {
                conversion.is_long = true;
                ++i;
            }
            conversion.kind = f[i];
            if (!f[i]) field_format_has_an_error();
            ++i;
            suffix = f + i;
        }
        if (!found) field_format_has_an_error();
        suffix_length = static_cast<uint16_t>(f + i - suffix);
        if constexpr (std::is_integral_v<T>) {
            char k = conversion.kind;
            if (k != 'd' && k != 'u' && k != 'x' && k != 'X' && k != 'c') field_format_has_an_error();
            if (sizeof(T) > sizeof(int) && !conversion.is_long) field_format_has_an_error();
        } else {
            if (conversion.kind != 's' || conversion.zero || conversion.width || conversion.is_long)
                field_format_has_an_error();
        }
    }
};

// A layer: the banner in text, the start of a layer object otherwise.
void layer(decode_context& cx, const char* proto, const char* banner);

// A number field.
template <std::integral T>
inline void field(decode_context& cx, const char* key, field_format<std::type_identity_t<T>> format, T value) {
    if (recording()) {
        add_entry(cx.record, std::is_signed_v<T> ? entry_kind::number : entry_kind::unsigned_number, key,
                  static_cast<long long>(value));
        return;
    }
    const zelk_conversion& c = format.conversion;
    // The same conversions printf applies to a promoted argument.
    if (c.kind == 'd') {
        long v = c.is_long ? static_cast<long>(value) : static_cast<long>(static_cast<int>(value));
        unsigned long magnitude = v < 0 ? 0UL - static_cast<unsigned long>(v) : static_cast<unsigned long>(v);
        zelk_print_field(cx.out, format.prefix, format.prefix_length, c, magnitude, v < 0, format.suffix,
                         format.suffix_length);
    } else {
        unsigned long v =
            c.is_long ? static_cast<unsigned long>(value) : static_cast<unsigned long>(static_cast<unsigned>(value));
        zelk_print_field(cx.out, format.prefix, format.prefix_length, c, v, false, format.suffix, format.suffix_length);
    }
}

// A text field (addresses, names that are the value itself).
inline void field(decode_context& cx, const char* key, field_format<const char*> format, const char* text) {
    if (recording()) {
        add_text_entry(cx.record, entry_kind::text, key, text, __builtin_strlen(text));
        return;
    }
    zelk_print_field_text(cx.out, format.prefix, format.prefix_length, text, format.suffix, format.suffix_length);
}

inline void field(decode_context& cx, const char* key, field_format<const char*> format, const std::string& text) {
    field(cx, key, format, text.c_str());
}

// A field whose text is printed only under --verbose (always recorded).
template <typename T>
inline void verbose_field(decode_context& cx, const char* key, field_format<std::type_identity_t<T>> format, T value) {
    if (settings.verbose || recording()) field(cx, key, format, value);
}

// Under --verbose: " (name)" behind the value just printed; recorded as
// <key>_name.
inline void print_name(decode_context& cx, const char* key, const char* name) {
    if (recording())
        add_text_entry(cx.record, entry_kind::name, key, name, __builtin_strlen(name));
    else if (settings.verbose)
        zelk_print_field_text(cx.out, " (", 2, name, ")", 1);
}

// Recorded only; for values whose text the decoder prints its own way.
inline void record_number(decode_context& cx, const char* key, long long value) {
    if (recording()) add_entry(cx.record, entry_kind::number, key, value);
}
inline void record_text(decode_context& cx, const char* key, const char* text) {
    if (recording()) add_text_entry(cx.record, entry_kind::text, key, text, __builtin_strlen(text));
}
inline void record_text(decode_context& cx, const char* key, const char* text, size_t length) {
    if (recording()) add_text_entry(cx.record, entry_kind::text, key, text, length);
}
inline void record_text(decode_context& cx, const char* key, const std::string& text) {
    record_text(cx, key, text.c_str(), text.size());
}
inline void record_flag(decode_context& cx, const char* key, bool on) {
    if (recording()) add_entry(cx.record, entry_kind::boolean, key, on);
}
inline void record_name(decode_context& cx, const char* key, const char* name) {
    if (recording()) add_text_entry(cx.record, entry_kind::name, key, name, __builtin_strlen(name));
}
inline void record_hex(decode_context& cx, const char* key, const uint8_t* bytes, size_t length) {
    if (recording()) add_hex_entry(cx.record, key, bytes, length);
}

// Repeated parts (options, records, TLVs): each opens an object appended to
// the array <key> of the current layer, closed by item_end().
inline void item(decode_context& cx, const char* key) {
    if (recording()) add_entry(cx.record, entry_kind::item, key, 0);
}
inline void item_end(decode_context& cx) {
    if (recording()) add_entry(cx.record, entry_kind::item_end, nullptr, 0);
}
// A value appended to the array <key>.
inline void list_number(decode_context& cx, const char* key, long long value) {
    if (recording()) add_entry(cx.record, entry_kind::list_number, key, value);
}
inline void list_text(decode_context& cx, const char* key, const char* text) {
    if (recording()) add_text_entry(cx.record, entry_kind::list_text, key, text, __builtin_strlen(text));
}

// The summary line's facts for this layer, when the decoder words them
// itself (e.g. "A? example.org"); printf-like.
void summary_note(decode_context& cx, const char* format, ...) ZELK_PRINTF_FMT(2, 3);
