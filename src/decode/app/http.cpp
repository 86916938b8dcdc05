#include "decode/app/http.h"

#include <cstring>
#include <string>

#include "decode/app/app_text.h"
#include "decode/decoder.h"

namespace {

constexpr const char* methods[] = {"GET ",     "POST ",  "HEAD ",    "PUT ",  "DELETE ",
                                   "OPTIONS ", "PATCH ", "CONNECT ", "TRACE "};

// The first line's length without its end of line; `next` is where the
// following line starts, or null when the segment ends inside the line.
struct line_view {
    const uint8_t* start;
    size_t length;
    const uint8_t* next;
};

line_view next_line(const uint8_t* p, const uint8_t* end) {
    size_t have = captured_from(p, static_cast<size_t>(end - p));
    const uint8_t* lf = static_cast<const uint8_t*>(memchr(p, '\n', have));
    if (!lf) return {p, have, nullptr};
    size_t length = static_cast<size_t>(lf - p);
    if (length && lf[-1] == '\r') --length;
    return {p, length, lf + 1};
}

bool starts_with(const uint8_t* p, size_t n, const char* prefix) {
    size_t k = strlen(prefix);
    return n >= k && !memcmp(p, prefix, k);
}

// Text of [p, p+n) split at the first blank: the word and what follows.
std::string word(const uint8_t*& p, const uint8_t* end) {
    const uint8_t* blank = static_cast<const uint8_t*>(memchr(p, ' ', static_cast<size_t>(end - p)));
    const uint8_t* stop = blank ? blank : end;
    std::string w = printable_text(p, static_cast<size_t>(stop - p));
    p = blank ? blank + 1 : end;
    return w;
}

}  // namespace

bool looks_like_http(const uint8_t* payload, size_t length) {
    if (starts_with(payload, length, "HTTP/1.")) return true;
    if (payload[0] < 'C' || payload[0] > 'T') return false;
    for (const char* m : methods) {
        if (!starts_with(payload, length, m)) continue;
        // The request line ends in the version.
        line_view first = next_line(payload, payload + length);
        const char* version = " HTTP/1.";
        size_t k = strlen(version);
        return first.length >= k + 2 && !memcmp(first.start + first.length - k - 1, version, k);
    }
    return false;
}

int decode_http(const frame_lengths*, const uint8_t* frame, unsigned offset) {
    const uint8_t* p = header_at(frame, offset);
    const uint8_t* end = p + ip_message_length(p);
    bool response = starts_with(p, static_cast<size_t>(end - p), "HTTP/");
    layer("http", response ? "- HTTP Response -" : "- HTTP Request -");
    bump(counters.http);
    line_view line = next_line(p, end);
    const uint8_t* at = line.start;
    const uint8_t* line_end = line.start + line.length;
    if (response) {
        std::string version = word(at, line_end);
        std::string status = word(at, line_end);
        std::string reason = printable_text(at, static_cast<size_t>(line_end - at));
        field("version", "\n  Version: %s", version.c_str());
        bool numeric = status.size() == 3 && isdigit(static_cast<unsigned char>(status[0])) &&
                       isdigit(static_cast<unsigned char>(status[1])) && isdigit(static_cast<unsigned char>(status[2]));
        if (numeric)
            field("status", ", Status: %u", static_cast<unsigned>(std::stoi(status)));
        else
            field("status_text", ", Status: %s", status.c_str());
        field("reason", ", Reason: %s", reason.c_str());
        summary_note("%s %s", status.c_str(), reason.c_str());
    } else {
        std::string method = word(at, line_end);
        std::string uri = word(at, line_end);
        std::string version = printable_text(at, static_cast<size_t>(line_end - at));
        field("method", "\n  Method: %s", method.c_str());
        field("uri", ", URI: %s", uri.c_str());
        field("version", ", Version: %s", version.c_str());
        summary_note("%s %s", method.c_str(), uri.c_str());
    }
    bool all = expanded(settings.expand_all);
    // Header lines up to the empty line; each step takes at least the
    // line's end-of-line byte.
    unsigned count = 0;
    bool head_complete = false;
    size_t body = 0;
    while (line.next) {
        line = next_line(line.next, end);
        if (!line.next && !line.length) break;
        if (line.next && !line.length) {
            head_complete = true;
            body = static_cast<size_t>(end - line.next);
            break;
        }
        ++count;
        if (!all) continue;
        const uint8_t* colon = static_cast<const uint8_t*>(memchr(line.start, ':', line.length));
        std::string text = printable_text(line.start, line.length);
        if (line.next && colon) {
            size_t name_length = static_cast<size_t>(colon - line.start);
            size_t value_at = name_length + 1;
            while (value_at < text.size() && (text[value_at] == ' ' || text[value_at] == '\t')) ++value_at;
            item("headers");
            zelk_printf("\n  %s", text.c_str());
            record_text("name", text.c_str(), name_length);
            record_text("value", text.c_str() + value_at, text.size() - value_at);
            item_end();
        } else {
            // A line cut by the segment's end, or one without a colon.
            zelk_printf("\n  %s", text.c_str());
            list_text("other_lines", text.c_str());
        }
    }
    if (!all) field("header_lines", "\n  Header Lines: %u", count);
    if (all && body) field("body_length", "\n  Body: %lu bytes", static_cast<long>(body));
    if (!head_complete) {
        zelk_printf("\n  [head continues beyond this segment]");
        record_flag("head_continues", true);
    }
    zelk_printf("\n");
    return 0;
}
