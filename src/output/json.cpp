// JSON Lines: one object per frame, written from the frame's record.
#include <charconv>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "capture/frame.h"
#include "capture/pcap_source.h"
#include "output/record.h"
#include "stats/counters.h"
#include "zelk.h"

namespace {

// Each decoding thread builds its lines in its own scratch.
thread_local std::string out;
// The record being written (its texts).
thread_local const frame_record_data* current;

// The length of the well-formed UTF-8 sequence at text[i] (a lead byte of
// 0x80 or more), or 0: no overlong forms, no surrogates, nothing beyond
// U+10FFFF.
size_t utf8_sequence(std::string_view text, size_t i) {
    auto byte = [&](size_t k) { return static_cast<unsigned char>(text[i + k]); };
    unsigned char c = byte(0);
    size_t n = c >= 0xc2 && c <= 0xdf ? 2 : c >= 0xe0 && c <= 0xef ? 3 : c >= 0xf0 && c <= 0xf4 ? 4 : 0;
    if (n == 0 || text.size() - i < n) return 0;
    for (size_t k = 1; k < n; ++k)
        if ((byte(k) & 0xc0) != 0x80) return 0;
    unsigned char second = byte(1);
    if ((c == 0xe0 && second < 0xa0) || (c == 0xed && second > 0x9f) || (c == 0xf0 && second < 0x90) ||
        (c == 0xf4 && second > 0x8f))
        return 0;
    return n;
}

void put_text(std::string_view text) {
    static const char digits[] = "0123456789abcdef";
    out.push_back('"');
    size_t plain = 0;  // a run of bytes that go out as they are
    for (size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\') continue;
        // Well-formed UTF-8 (vendor names, text in packets) stays as it is.
        if (c >= 0x80) {
            if (size_t n = utf8_sequence(text, i)) {
                i += n - 1;
                continue;
            }
        }
        out.append(text.data() + plain, i - plain);
        plain = i + 1;
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(c));
        } else {
            // Control bytes and bytes of no valid sequence escaped one by
            // one: the line is valid UTF-8 whatever the packet held.
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

// A few protocols state one key as a number in one message and as text in
// another (an SNMP value is an INTEGER, a STRING or an OID). A loader wants
// one type per key: the number keeps the key, the text gets its own.
struct text_rename {
    const char* proto;
    const char* key;
    const char* text_key;
};
constexpr text_rename text_renames[] = {
    {"snmp", "value", "value_text"},
    {"cdp", "version", "software_version"},
};

const char* text_key(const char* proto, const char* key) {
    for (const text_rename& t : text_renames)
        if (key[0] == t.key[0] && strcmp(key, t.key) == 0 && strcmp(proto, t.proto) == 0) return t.text_key;
    return key;
}

// The keys written into one object so far, by 64-bit hash. A key a header
// states twice keeps its first value, so that no object holds a key twice;
// a mask of hash bits makes the usual, unrepeated key cost one test.
struct written_keys {
    uint64_t mask = 0;
    uint64_t hashes[256];
    size_t count = 0;

    static uint64_t hash(const char* key, const char* suffix) {
        uint64_t h = 1469598103934665603ULL;
        for (const char* p = key; *p; ++p) h = (h ^ static_cast<unsigned char>(*p)) * 1099511628211ULL;
        for (const char* p = suffix; *p; ++p) h = (h ^ static_cast<unsigned char>(*p)) * 1099511628211ULL;
        return h;
    }
    // True the first time a key is offered.
    bool first(const char* key, const char* suffix = "") {
        uint64_t h = hash(key, suffix);
        uint64_t bit = 1ULL << (h >> 58);
        if (mask & bit)
            for (size_t i = 0; i < count; ++i)
                if (hashes[i] == h) return false;
        mask |= bit;
        if (count < sizeof hashes / sizeof hashes[0]) hashes[count++] = h;
        return true;
    }
};

void put_unsigned(unsigned long long v) {
    char digits[24];
    auto end = std::to_chars(digits, digits + sizeof digits, v).ptr;
    out.append(digits, static_cast<size_t>(end - digits));
}

// A name that only says the code is not known tells a reader nothing the
// code does not: it is left out.
bool unknown_name(std::string_view name) { return name == "unknown" || name == "Unknown"; }

void write_members(const std::vector<record_entry>& entries, size_t begin, size_t end, const char* proto, int depth);

// Writes one scalar entry, with its comma, unless its key was written.
void write_scalar(const record_entry& e, const char* proto, written_keys& keys, bool& first) {
    auto comma = [&first] {
        if (!first) out.push_back(',');
        first = false;
    };
    switch (e.kind) {
        case entry_kind::number:
            if (!keys.first(e.key)) return;
            comma();
            put_key(e.key);
            put_number(e.number);
            break;
        case entry_kind::unsigned_number:
            if (!keys.first(e.key)) return;
            comma();
            put_key(e.key);
            put_unsigned(static_cast<unsigned long long>(e.number));
            break;
        case entry_kind::text: {
            const char* key = text_key(proto, e.key);
            if (!keys.first(key)) return;
            comma();
            put_key(key);
            put_text(entry_text(*current, e));
            break;
        }
        case entry_kind::boolean:
            if (!keys.first(e.key)) return;
            comma();
            put_key(e.key);
            out.append(e.number ? "true" : "false");
            break;
        case entry_kind::name:
            if (unknown_name(entry_text(*current, e)) || !keys.first(e.key, "_name")) return;
            comma();
            put_key(e.key, "_name");
            put_text(entry_text(*current, e));
            break;
        case entry_kind::verdict:
            if (keys.first(e.key, "_ok")) {
                comma();
                put_key(e.key, "_ok");
                out.append(e.text_at ? "true" : "false");
            }
            if (keys.first(e.key, "_expected")) {
                comma();
                put_key(e.key, "_expected");
                put_number(e.number);
            }
            break;
        case entry_kind::offloaded:
            if (!keys.first(e.key, "_offloaded")) return;
            comma();
            put_key(e.key, "_offloaded");
            out.append("true");
            break;
        default: break;
    }
}

// The array <key> at entry i: every array entry of that key in the object,
// at the place of the first. Its elements take the kind of the first one
// (numbers, text or objects), so an array never mixes types.
void write_array(const std::vector<record_entry>& entries, size_t i, size_t end, const char* proto, int depth) {
    const record_entry& e = entries[i];
    put_key(e.key);
    out.push_back('[');
    bool first_value = true;
    for (size_t j = i; j < end; j = next_at_level(entries, j)) {
        const record_entry& v = entries[j];
        if (v.kind != e.kind || strcmp(v.key, e.key) != 0) continue;
        if (!first_value) out.push_back(',');
        first_value = false;
        if (v.kind == entry_kind::list_number) {
            put_number(v.number);
        } else if (v.kind == entry_kind::list_text) {
            put_text(entry_text(*current, v));
        } else {
            out.push_back('{');
            if (depth < 32) write_members(entries, j + 1, item_close[j], proto, depth + 1);
            out.push_back('}');
        }
    }
    out.push_back(']');
}

// Writes the members of one object, entries [begin, end) at one level,
// without the braces.
void write_members(const std::vector<record_entry>& entries, size_t begin, size_t end, const char* proto, int depth) {
    written_keys keys;
    bool first = true;
    for (size_t i = begin; i < end; i = next_at_level(entries, i)) {
        const record_entry& e = entries[i];
        if (e.kind == entry_kind::note || e.kind == entry_kind::item_end || !e.key) continue;
        if (!is_array_entry(e.kind)) {
            write_scalar(e, proto, keys, first);
            continue;
        }
        if (!keys.first(e.key)) continue;
        if (!first) out.push_back(',');
        first = false;
        write_array(entries, i, end, proto, depth);
    }
}

// "time":"YYYY-MM-DDTHH:MM:SS.uuuuuuZ","epoch_ns":N, with nine decimals
// when the stamp has nanoseconds (a nanosecond pcap file, or a part below
// the microsecond). The integer is exact whatever the date, before 1970
// too; the calendar part is worked out once per second, not per frame.
void put_time(long seconds, unsigned microseconds, unsigned nano_rest) {
    // A damaged count of a million microseconds or more carries into the
    // seconds, so that the text is a valid time and both say the same.
    seconds += static_cast<long>(microseconds / 1000000);
    microseconds %= 1000000;
    thread_local long cached_second = 0;
    thread_local bool cached = false;
    thread_local char calendar[48];
    thread_local size_t calendar_length;
    if (!cached || seconds != cached_second) {
        time_t t = seconds;
        tm utc{};
        gmtime_r(&t, &utc);
        int n = snprintf(calendar, sizeof calendar, "%04d-%02d-%02dT%02d:%02d:%02d.", utc.tm_year + 1900,
                         utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
        calendar_length = n > 0 ? static_cast<size_t>(n) : 0;
        cached_second = seconds;
        cached = true;
    }
    bool nano = nano_rest != 0 || capture.nanosecond_file;
    char fraction[9];
    unsigned digits = nano ? 9 : 6;
    unsigned value = nano ? microseconds * 1000 + nano_rest : microseconds;
    for (int i = static_cast<int>(digits) - 1; i >= 0; --i, value /= 10)
        fraction[i] = static_cast<char>('0' + value % 10);
    out.append(",\"time\":\"");
    out.append(calendar, calendar_length);
    out.append(fraction, digits);
    out.append("Z\",\"epoch_ns\":");
    // Beyond 64 bits past the year 2262 (a pcapng stamp may count up to
    // 2^64 microseconds): the exact value all the same.
    __int128 ns = static_cast<__int128>(seconds) * 1000000000 + microseconds * 1000LL + nano_rest;
    if (ns >= INT64_MIN && ns <= INT64_MAX) {
        put_number(static_cast<long long>(ns));
        return;
    }
    if (ns < 0) out.push_back('-');
    unsigned __int128 magnitude = ns < 0 ? -static_cast<unsigned __int128>(ns) : static_cast<unsigned __int128>(ns);
    char text[40];
    size_t n = 0;
    for (; magnitude; magnitude /= 10) text[n++] = static_cast<char>('0' + static_cast<int>(magnitude % 10));
    while (n) out.push_back(text[--n]);
}

void emit(zelk_text& dest) { write_record_line(dest, out.data(), out.size()); }

}  // namespace

// The layers of a frame: a protocol's first header is the object <proto>;
// every further header of the same protocol in the frame (a tunnel's inner
// IPv4, a second SNMP message) is an object of the array <proto>_inner, in
// order. "stack" names every header, outermost first.
void write_json_frame(const frame_record_data& r, zelk_text& dest) {
    current = &r;
    out.clear();
    out.append("{\"frame\":");
    put_unsigned(r.number);
    put_time(r.seconds, r.microseconds, r.nano_rest % 1000);
    out.append(",\"captured_length\":");
    put_unsigned(r.captured_length);
    out.append(",\"wire_length\":");
    put_unsigned(r.wire_length);
    out.append(",\"link_type\":");
    put_number(r.link_type);

    match_items(r.entries);
    // [begin, end) of every layer's entries, the layer entry first.
    struct span {
        size_t begin, end;
    };
    thread_local std::vector<span> layers;
    layers.clear();
    for (size_t i = 0; i < r.entries.size(); ++i) {
        if (r.entries[i].kind != entry_kind::layer) continue;
        if (!layers.empty()) layers.back().end = i;
        layers.push_back({i, r.entries.size()});
    }
    out.append(",\"stack\":[");
    for (size_t l = 0; l < layers.size(); ++l) {
        if (l) out.push_back(',');
        put_text(r.entries[layers[l].begin].key);
    }
    out.push_back(']');

    auto proto_of = [&r](const span& s) { return r.entries[s.begin].key; };
    auto write_layer = [&](const span& s) {
        out.push_back('{');
        write_members(r.entries, s.begin + 1, s.end, proto_of(s), 0);
        out.push_back('}');
    };
    for (size_t l = 0; l < layers.size(); ++l) {
        const char* proto = proto_of(layers[l]);
        bool repeated = false;
        for (size_t k = 0; k < l && !repeated; ++k) repeated = strcmp(proto_of(layers[k]), proto) == 0;
        if (repeated) continue;  // written with the first header of its protocol
        out.push_back(',');
        put_key(proto);
        write_layer(layers[l]);
        bool any_inner = false;
        for (size_t k = l + 1; k < layers.size(); ++k) {
            if (strcmp(proto_of(layers[k]), proto) != 0) continue;
            out.append(any_inner ? "," : ",\"");
            if (!any_inner) {
                out.append(proto);
                out.append("_inner\":[");
            }
            any_inner = true;
            write_layer(layers[k]);
        }
        if (any_inner) out.push_back(']');
    }
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
    put_unsigned(counters.name);
    NODRIX_REPORT_COUNTERS(NODRIX_JSON_COUNTER)
    NODRIX_MORE_COUNTERS(NODRIX_JSON_COUNTER)
#undef NODRIX_JSON_COUNTER
    // A live capture: what the kernel counted.
    if (live_counts.known) {
        out.push_back(',');
        put_key("received");
        put_unsigned(live_counts.received);
        out.push_back(',');
        put_key("dropped_kernel");
        put_unsigned(live_counts.dropped_kernel);
        out.push_back(',');
        put_key("dropped_interface");
        put_unsigned(live_counts.dropped_interface);
    }
    out.append("}}\n");
    emit(zelk_main_text());
}
