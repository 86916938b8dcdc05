#include "output/record.h"

#include <sys/time.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "capture/frame.h"
#include "decode/fields.h"
#include "driver/settings.h"

frame_record_data frame_record;

void field_format_has_an_error() {}

void begin_frame(long seconds, unsigned microseconds, uint32_t captured_length, uint32_t wire_length) {
    if (!settings.record_fields) return;
    frame_record_data& r = frame_record;
    r.number = capture.frame_counter;
    r.seconds = seconds;
    r.microseconds = microseconds;
    r.captured_length = captured_length;
    r.wire_length = wire_length;
    r.link_type = capture.link_type;
    r.truncated = r.malformed = false;
    r.in_frame = true;
    r.entries.clear();
    r.texts.clear();
    r.raw_hex.clear();
    zelk_set_text_suppressed(true);
}

void end_frame() {
    if (!settings.record_fields || !frame_record.in_frame) return;
    frame_record.in_frame = false;
    if (settings.json) {
        write_json_frame();
    } else {
        write_summary_line();
        // Outside frames the summary mode prints the usual start-up and
        // closing lines.
        zelk_set_text_suppressed(false);
    }
}

void mark_frame_cut(bool malformed) {
    if (malformed)
        frame_record.malformed = true;
    else
        frame_record.truncated = true;
}

void add_entry(entry_kind kind, const char* key, long long number) {
    frame_record.entries.push_back(record_entry{kind, key, number, 0, 0});
}

void add_text_entry(entry_kind kind, const char* key, const char* text, size_t length) {
    auto at = static_cast<uint32_t>(frame_record.texts.size());
    frame_record.texts.append(text, length);
    frame_record.entries.push_back(record_entry{kind, key, 0, at, static_cast<uint32_t>(length)});
}

void add_hex_entry(const char* key, const uint8_t* bytes, size_t length) {
    static const char digits[] = "0123456789abcdef";
    auto at = static_cast<uint32_t>(frame_record.texts.size());
    std::string& t = frame_record.texts;
    t.reserve(t.size() + 2 * length);
    for (size_t i = 0; i < length; ++i) {
        t.push_back(digits[bytes[i] >> 4]);
        t.push_back(digits[bytes[i] & 0x0f]);
    }
    frame_record.entries.push_back(record_entry{entry_kind::text, key, 0, at, static_cast<uint32_t>(2 * length)});
}

void layer(const char* proto, const char* banner) {
    if (settings.record_fields)
        add_entry(entry_kind::layer, proto, 0);
    else
        zelk_print_field_text("", 0, banner, "", 0);
}

void summary_note(const char* format, ...) {
    if (!settings.summary) return;
    char text[256];
    va_list ap;
    va_start(ap, format);
    int n = vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    if (n < 0) return;
    size_t length = static_cast<size_t>(n) < sizeof text ? static_cast<size_t>(n) : sizeof text - 1;
    add_text_entry(entry_kind::note, nullptr, text, length);
}
