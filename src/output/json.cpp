// JSON Lines: one object per frame, written from the frame's record.
#include <cstring>
#include <ctime>
#include <string>

#include "output/record.h"
#include "stats/counters.h"
#include "zelk.h"

namespace {

std::string out;

void put_text(std::string_view text) {
    static const char digits[] = "0123456789abcdef";
    out.push_back('"');
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(c));
        } else if (c >= 0x20 && c < 0x7f) {
            out.push_back(static_cast<char>(c));
        } else {
            // Every other byte escaped: the line is ASCII, so valid UTF-8
            // whatever the packet held.
            out.append("\\u00");
            out.push_back(digits[c >> 4]);
            out.push_back(digits[c & 0x0f]);
        }
    }
    out.push_back('"');
}

void put_number(long long v) {
    char digits[24];
    int n = snprintf(digits, sizeof digits, "%lld", v);
    out.append(digits, static_cast<size_t>(n));
}

void put_key(const char* key, const char* suffix = "") {
    out.push_back('"');
    out.append(key);
    out.append(suffix);
    out.append("\":");
}

// One level of nesting: a layer object or an item object.
struct level {
    bool empty = true;                 // nothing written into the object yet
    const char* open_array = nullptr;  // the array of items or values still open
    bool array_of_objects = false;
};

void separate(level& l) {
    if (!l.empty) out.push_back(',');
    l.empty = false;
}

void close_array(level& l) {
    if (l.open_array) out.push_back(']');
    l.open_array = nullptr;
}

// Continues the open array <key> or opens a new one.
void array_slot(level& l, const char* key, bool objects) {
    if (l.open_array && l.array_of_objects == objects && strcmp(l.open_array, key) == 0) {
        out.push_back(',');
        return;
    }
    close_array(l);
    separate(l);
    put_key(key);
    out.push_back('[');
    l.open_array = key;
    l.array_of_objects = objects;
}

void put_time(long seconds, unsigned microseconds) {
    time_t t = seconds;
    tm utc{};
    gmtime_r(&t, &utc);
    char text[64];
    int n = snprintf(text, sizeof text, "\"%04d-%02d-%02dT%02d:%02d:%02d.%06uZ\"", utc.tm_year + 1900, utc.tm_mon + 1,
                     utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, microseconds);
    out.append(text, static_cast<size_t>(n));
}

void emit() {
    if (zelk_quiet_active()) return;
    FILE* stream = zelk_output();
    fwrite_unlocked(out.data(), 1, out.size(), stream);
}

}  // namespace

void write_json_frame() {
    const frame_record_data& r = frame_record;
    out.clear();
    out.append("{\"frame\":");
    put_number(static_cast<long long>(r.number));
    out.append(",\"time\":");
    put_time(r.seconds, r.microseconds);
    char epoch[40];
    int n = snprintf(epoch, sizeof epoch, ",\"epoch\":%ld.%06u", r.seconds, r.microseconds);
    out.append(epoch, static_cast<size_t>(n));
    out.append(",\"captured_length\":");
    put_number(r.captured_length);
    out.append(",\"wire_length\":");
    put_number(r.wire_length);
    out.append(",\"link_type\":");
    put_number(r.link_type);
    out.append(",\"layers\":[");

    // levels[0] is the open layer object; deeper ones are items.
    level levels[16];
    int depth = -1;
    bool any_layer = false;
    auto close_to = [&](int keep) {
        while (depth > keep) {
            close_array(levels[depth]);
            out.push_back('}');
            --depth;
        }
    };
    for (const record_entry& e : r.entries) {
        if (e.kind == entry_kind::layer) {
            close_to(-1);
            if (any_layer) out.push_back(',');
            any_layer = true;
            out.append("{\"proto\":");
            put_text(e.key);
            depth = 0;
            levels[0] = level{};
            levels[0].empty = false;
            continue;
        }
        if (depth < 0 || e.kind == entry_kind::note) continue;  // fields before any layer have no home
        level& l = levels[depth];
        switch (e.kind) {
            case entry_kind::item:
                if (depth + 1 >= static_cast<int>(sizeof levels / sizeof levels[0])) break;
                array_slot(l, e.key, true);
                out.push_back('{');
                levels[++depth] = level{};
                break;
            case entry_kind::item_end:
                if (depth > 0) close_to(depth - 1);
                break;
            case entry_kind::list_number:
                array_slot(l, e.key, false);
                put_number(e.number);
                break;
            case entry_kind::list_text:
                array_slot(l, e.key, false);
                put_text(entry_text(e));
                break;
            default:
                close_array(l);
                separate(l);
                switch (e.kind) {
                    case entry_kind::number:
                        put_key(e.key);
                        put_number(e.number);
                        break;
                    case entry_kind::text:
                        put_key(e.key);
                        put_text(entry_text(e));
                        break;
                    case entry_kind::boolean:
                        put_key(e.key);
                        out.append(e.number ? "true" : "false");
                        break;
                    case entry_kind::name:
                        put_key(e.key, "_name");
                        put_text(entry_text(e));
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
    }
    close_to(-1);
    out.push_back(']');
    if (!r.raw_hex.empty()) {
        out.append(",\"raw_hex\":\"");
        out.append(r.raw_hex);
        out.push_back('"');
    }
    if (r.truncated) out.append(",\"truncated\":true");
    if (r.malformed) out.append(",\"malformed\":true");
    out.append("}\n");
    emit();
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
    emit();
}
