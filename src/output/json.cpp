// JSON Lines: one object per frame, written from the frame's record.
#include <charconv>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "output/record.h"
#include "stats/counters.h"
#include "zelk.h"

namespace {

// Each decoding thread builds its lines in its own scratch.
thread_local std::string out;
// The record being written (its texts).
thread_local const frame_record_data* current;

void put_text(std::string_view text) {
    static const char digits[] = "0123456789abcdef";
    out.push_back('"');
    size_t plain = 0;  // a run of bytes that go out as they are
    for (size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\') continue;
        out.append(text.data() + plain, i - plain);
        plain = i + 1;
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(c));
        } else {
            // Every other byte escaped: the line is ASCII, so valid UTF-8
            // whatever the packet held.
            out.append("\\u00");
            out.push_back(digits[c >> 4]);
            out.push_back(digits[c & 0x0f]);
        }
    }
    out.append(text.data() + plain, text.size() - plain);
    out.push_back('"');
}

void put_number(long long v) {
    char digits[24];
    auto end = std::to_chars(digits, digits + sizeof digits, v).ptr;
    out.append(digits, static_cast<size_t>(end - digits));
}

void put_key(const char* key, const char* suffix = "") {
    out.push_back('"');
    out.append(key);
    if (*suffix) out.append(suffix);
    out.append("\":", 2);
}

// The entry that closes each item (by index), found once per frame.
thread_local std::vector<size_t> item_close;

void match_items(const std::vector<record_entry>& entries) {
    item_close.assign(entries.size(), entries.size());
    size_t open[64];
    int depth = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].kind == entry_kind::layer) depth = 0;
        if (entries[i].kind == entry_kind::item) {
            if (depth < 64) open[depth] = i;
            ++depth;
        } else if (entries[i].kind == entry_kind::item_end && depth > 0) {
            --depth;
            if (depth < 64) item_close[open[depth]] = i;
        }
    }
}

// The index after the entry at i, skipping over a whole item.
size_t next_at_level(const std::vector<record_entry>& entries, size_t i) {
    return entries[i].kind == entry_kind::item ? item_close[i] + 1 : i + 1;
}

bool is_array_entry(entry_kind k) {
    return k == entry_kind::item || k == entry_kind::list_number || k == entry_kind::list_text;
}

void write_members(const std::vector<record_entry>& entries, size_t begin, size_t end, bool first, int depth);

void write_scalar(const record_entry& e) {
    switch (e.kind) {
        case entry_kind::number:
            put_key(e.key);
            put_number(e.number);
            break;
        case entry_kind::text:
            put_key(e.key);
            put_text(entry_text(*current, e));
            break;
        case entry_kind::boolean:
            put_key(e.key);
            out.append(e.number ? "true" : "false");
            break;
        case entry_kind::name:
            put_key(e.key, "_name");
            put_text(entry_text(*current, e));
            break;
        case entry_kind::verdict:
            put_key(e.key, "_ok");
            out.append(e.text_at ? "true" : "false");
            out.push_back(',');
            put_key(e.key, "_expected");
            put_number(e.number);
            break;
        case entry_kind::offloaded:
            put_key(e.key, "_offloaded");
            out.append("true");
            break;
        default: break;
    }
}

// Writes the members of one object, entries [begin, end) at one level. An
// array key gathers every entry of that key in the object, at the place of
// its first one, so that no key appears twice.
void write_members(const std::vector<record_entry>& entries, size_t begin, size_t end, bool first, int depth) {
    // Array keys already written; objects rarely hold more than a few.
    const char* arrays_done[64];
    size_t done_count = 0;
    for (size_t i = begin; i < end; i = next_at_level(entries, i)) {
        const record_entry& e = entries[i];
        if (e.kind == entry_kind::note || e.kind == entry_kind::item_end || !e.key) continue;
        if (!first) out.push_back(',');
        first = false;
        if (!is_array_entry(e.kind)) {
            write_scalar(e);
            continue;
        }
        bool done = false;
        for (size_t k = 0; k < done_count && !done; ++k) done = strcmp(arrays_done[k], e.key) == 0;
        if (done) {
            out.pop_back();  // the comma written above
            first = out.back() == '{';
            continue;
        }
        if (done_count < 64) arrays_done[done_count++] = e.key;
        put_key(e.key);
        out.push_back('[');
        bool first_value = true;
        for (size_t j = i; j < end; j = next_at_level(entries, j)) {
            const record_entry& v = entries[j];
            if (!is_array_entry(v.kind) || strcmp(v.key, e.key) != 0) continue;
            if (!first_value) out.push_back(',');
            first_value = false;
            if (v.kind == entry_kind::list_number) {
                put_number(v.number);
            } else if (v.kind == entry_kind::list_text) {
                put_text(entry_text(*current, v));
            } else {
                out.push_back('{');
                if (depth < 32) write_members(entries, j + 1, item_close[j], true, depth + 1);
                out.push_back('}');
            }
        }
        out.push_back(']');
    }
}

// "time":"YYYY-MM-DDTHH:MM:SS.uuuuuuZ","epoch":S.uuuuuu; the calendar part
// is worked out once per second, not per frame.
void put_time(long seconds, unsigned microseconds) {
    thread_local long cached_second = -1;
    thread_local char calendar[32];
    thread_local size_t calendar_length;
    if (seconds != cached_second || cached_second == -1) {
        time_t t = seconds;
        tm utc{};
        gmtime_r(&t, &utc);
        int n = snprintf(calendar, sizeof calendar, "%04d-%02d-%02dT%02d:%02d:%02d.", utc.tm_year + 1900,
                         utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
        calendar_length = n > 0 ? static_cast<size_t>(n) : 0;
        cached_second = seconds;
    }
    // Six digits, or more for a (damaged) count of a million or above, as
    // %06u would give.
    char micro[12];
    int digits = 0;
    for (unsigned us = microseconds; us || digits < 6; us /= 10) micro[digits++] = static_cast<char>('0' + us % 10);
    for (int i = 0; i < digits / 2; ++i) std::swap(micro[i], micro[digits - 1 - i]);
    out.append(",\"time\":\"");
    out.append(calendar, calendar_length);
    out.append(micro, static_cast<size_t>(digits));
    out.append("Z\",\"epoch\":");
    put_number(seconds);
    out.push_back('.');
    out.append(micro, static_cast<size_t>(digits));
}

void emit(zelk_text& dest) { write_record_line(dest, out.data(), out.size()); }

}  // namespace

void write_json_frame(const frame_record_data& r, zelk_text& dest) {
    current = &r;
    out.clear();
    out.append("{\"frame\":");
    put_number(static_cast<long long>(r.number));
    put_time(r.seconds, r.microseconds);
    out.append(",\"captured_length\":");
    put_number(r.captured_length);
    out.append(",\"wire_length\":");
    put_number(r.wire_length);
    out.append(",\"link_type\":");
    put_number(r.link_type);
    out.append(",\"layers\":[");

    match_items(r.entries);
    bool any_layer = false;
    size_t i = 0;
    while (i < r.entries.size() && r.entries[i].kind != entry_kind::layer) ++i;  // nothing before a layer
    while (i < r.entries.size()) {
        size_t next = i + 1;
        while (next < r.entries.size() && r.entries[next].kind != entry_kind::layer) ++next;
        if (any_layer) out.push_back(',');
        any_layer = true;
        out.append("{\"proto\":");
        put_text(r.entries[i].key);
        write_members(r.entries, i + 1, next, false, 0);
        out.push_back('}');
        i = next;
    }
    out.push_back(']');
    if (!r.raw_hex.empty()) {
        out.append(",\"raw_hex\":\"");
        out.append(r.raw_hex);
        out.push_back('"');
    }
    if (r.truncated) out.append(",\"truncated\":true");
    if (r.malformed) out.append(",\"malformed\":true");
    out.append("}\n");
    emit(dest);
}

void write_json_statistics() {
    out.clear();
    out.append("{\"statistics\":{");
    bool first = true;
#define NODRIX_JSON_COUNTER(name)   \
    if (!first) out.push_back(','); \
    first = false;                  \
    put_key(#name);                 \
    put_number(counters.name);
    NODRIX_REPORT_COUNTERS(NODRIX_JSON_COUNTER)
    NODRIX_MORE_COUNTERS(NODRIX_JSON_COUNTER)
#undef NODRIX_JSON_COUNTER
    out.append("}}\n");
    emit(zelk_main_text());
}
