#include "output/record.h"

#include <sys/time.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "capture/frame.h"
#include "decode/context.h"
#include "decode/fields.h"
#include "driver/settings.h"
#include "filter/where.h"
#include "stats/views.h"

constinit thread_local bool record_pass = false;

void field_format_has_an_error() {}

void begin_frame(decode_context& cx, long seconds, unsigned microseconds, uint32_t captured_length,
                 uint32_t wire_length) {
    reassembly_note_time(cx, seconds, microseconds);
    if (!recording()) return;
    forget_transport_payload();
    frame_record_data& r = cx.record;
    r.number = cx.frame_number;
    r.seconds = seconds;
    r.microseconds = microseconds;
    r.nano_rest = 0;
    r.captured_length = captured_length;
    r.wire_length = wire_length;
    r.link_type = capture.link_type;
    r.truncated = r.malformed = false;
    r.in_frame = true;
    r.early_verdict = 0;
    r.time_text[0] = 0;
    r.entries.clear();
    r.texts.clear();
    r.raw_hex.clear();
    cx.out.suppressed = true;
}

bool end_frame(decode_context& cx) {
    if (!recording() || !cx.record.in_frame) return true;
    cx.record.in_frame = false;
    bool shown = !where_filter || (cx.record.early_verdict ? cx.record.early_verdict == 1
                                                           : where_matches(*where_filter, cx.record));
    // The statistics views count what is shown, once per frame.
    if (shown && stats_views_on()) note_frame_fact(cx);
    if (record_pass || !shown) {
        if (settings.summary) cx.out.suppressed = false;
        return shown;
    }
    if (settings.json) {
        write_json_frame(cx.record, cx.out);
    } else {
        write_summary_line(cx);
        // Outside frames the summary mode prints the usual start-up and
        // closing lines.
        cx.out.suppressed = false;
    }
    return true;
}

bool where_rejects_early(decode_context& cx) {
    frame_record_data& r = cx.record;
    if (!where_early || !recording() || !r.in_frame) return false;
    if (!r.early_verdict) r.early_verdict = where_matches(*where_filter, r) ? 1 : 2;
    return r.early_verdict == 2;
}

void mark_frame_cut(decode_context& cx, bool malformed) {
    if (malformed)
        cx.record.malformed = true;
    else
        cx.record.truncated = true;
}

void add_entry(frame_record_data& r, entry_kind kind, const char* key, long long number) {
    r.entries.push_back(record_entry{kind, key, number, 0, 0});
}

void add_text_entry(frame_record_data& r, entry_kind kind, const char* key, const char* text, size_t length) {
    auto at = static_cast<uint32_t>(r.texts.size());
    r.texts.append(text, length);
    r.entries.push_back(record_entry{kind, key, 0, at, static_cast<uint32_t>(length)});
}

void add_hex_entry(frame_record_data& r, const char* key, const uint8_t* bytes, size_t length) {
    static const char digits[] = "0123456789abcdef";
    auto at = static_cast<uint32_t>(r.texts.size());
    std::string& t = r.texts;
    t.reserve(t.size() + 2 * length);
    for (size_t i = 0; i < length; ++i) {
        t.push_back(digits[bytes[i] >> 4]);
        t.push_back(digits[bytes[i] & 0x0f]);
    }
    r.entries.push_back(record_entry{entry_kind::text, key, 0, at, static_cast<uint32_t>(2 * length)});
}

void layer(decode_context& cx, const char* proto, const char* banner) {
    if (recording())
        add_entry(cx.record, entry_kind::layer, proto, 0);
    else
        zelk_print_field_text(cx.out, "", 0, banner, "", 0);
}

void summary_note(decode_context& cx, const char* format, ...) {
    if (!settings.summary) return;
    char text[256];
    va_list ap;
    va_start(ap, format);
    int n = vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    if (n < 0) return;
    size_t length = static_cast<size_t>(n) < sizeof text ? static_cast<size_t>(n) : sizeof text - 1;
    add_text_entry(cx.record, entry_kind::note, nullptr, text, length);
}

void write_record_line(zelk_text& out, const char* text, size_t length) {
    if (zelk_quiet_active()) return;
    bool suppressed = out.suppressed;
    out.suppressed = false;
    zelk_write(out, text, length);
    out.suppressed = suppressed;
}
