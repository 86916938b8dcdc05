#include "decode/app/http.h"

#include <strings.h>

#include "decode/app/http2.h"

#include <cstring>
#include <string>

#include "decode/app/app_text.h"
#include "decode/app/text_lines.h"
#include "decode/decoder.h"

namespace {

constexpr const char* methods[] = {"GET ",     "POST ",  "HEAD ",    "PUT ",  "DELETE ",
                                   "OPTIONS ", "PATCH ", "CONNECT ", "TRACE "};

// Text of [p, p+n) split at the first blank: the word and what follows.
std::string word(decode_context& cx, const uint8_t*& p, const uint8_t* end) {
    const uint8_t* blank = static_cast<const uint8_t*>(memchr(p, ' ', static_cast<size_t>(end - p)));
    const uint8_t* stop = blank ? blank : end;
    std::string w = printable_text(cx, p, static_cast<size_t>(stop - p));
    p = blank ? blank + 1 : end;
    return w;
}

}  // namespace

bool looks_like_http(decode_context& cx, const uint8_t* payload, size_t length) {
    if (starts_with(payload, length, "HTTP/1.")) return true;
    if (payload[0] < 'C' || payload[0] > 'T') return false;
    for (const char* m : methods) {
        if (!starts_with(payload, length, m)) continue;
        // The request line ends in the version.
        text_line first = next_line(cx, payload, payload + length);
        const char* version = " HTTP/1.";
        size_t k = strlen(version);
        return first.length >= k + 2 && !memcmp(first.start + first.length - k - 1, version, k);
    }
    return false;
}

int decode_http(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    const uint8_t* p = header_at(cx, frame, offset);
    const uint8_t* end = p + ip_message_length(cx, p);
    bool response = starts_with(p, static_cast<size_t>(end - p), "HTTP/");
    layer(cx, "http", response ? "- HTTP Response -" : "- HTTP Request -");
    bump(cx.counters.http);
    text_line line = next_line(cx, p, end);
    const uint8_t* at = line.start;
    const uint8_t* line_end = line.start + line.length;
    bool switching = false, to_h2c = false;
    if (response) {
        std::string version = word(cx, at, line_end);
        std::string status = word(cx, at, line_end);
        switching = status == "101";
        std::string reason = printable_text(cx, at, static_cast<size_t>(line_end - at));
        field(cx, "version", "\n  Version: %s", version.c_str());
        bool numeric = status.size() == 3 && isdigit(static_cast<unsigned char>(status[0])) &&
                       isdigit(static_cast<unsigned char>(status[1])) && isdigit(static_cast<unsigned char>(status[2]));
        if (numeric)
            field(cx, "status", ", Status: %u", static_cast<unsigned>(std::stoi(status)));
        else
            field(cx, "status_text", ", Status: %s", status.c_str());
        field(cx, "reason", ", Reason: %s", reason.c_str());
        summary_note(cx, "%s %s", status.c_str(), reason.c_str());
    } else {
        std::string method = word(cx, at, line_end);
        std::string uri = word(cx, at, line_end);
        std::string version = printable_text(cx, at, static_cast<size_t>(line_end - at));
        field(cx, "method", "\n  Method: %s", method.c_str());
        field(cx, "uri", ", URI: %s", uri.c_str());
        field(cx, "version", ", Version: %s", version.c_str());
        summary_note(cx, "%s %s", method.c_str(), uri.c_str());
    }
    bool all = expanded(settings.expand_all);
    // Header lines up to the empty line; each step takes at least the
    // line's end-of-line byte.
    unsigned count = 0;
    bool head_complete = false;
    size_t body = 0;
    while (line.next) {
        line = next_line(cx, line.next, end);
        if (!line.next && !line.length) break;
        if (line.next && !line.length) {
            head_complete = true;
            body = static_cast<size_t>(end - line.next);
            break;
        }
        ++count;
        if (switching && line.length > 8 && strncasecmp(reinterpret_cast<const char*>(line.start), "upgrade:", 8) == 0) {
            std::string value = printable_text(cx, line.start + 8, line.length - 8);
            to_h2c = value.find("h2c") != std::string::npos;
        }
        if (!all) continue;
        const uint8_t* colon = static_cast<const uint8_t*>(memchr(line.start, ':', line.length));
        std::string text = printable_text(cx, line.start, line.length);
        if (line.next && colon) {
            size_t name_length = static_cast<size_t>(colon - line.start);
            size_t value_at = name_length + 1;
            while (value_at < text.size() && (text[value_at] == ' ' || text[value_at] == '\t')) ++value_at;
            item(cx, "headers");
            zelk_printf(cx.out, "\n  %s", text.c_str());
            record_text(cx, "name", text.c_str(), name_length);
            record_text(cx, "value", text.c_str() + value_at, text.size() - value_at);
            item_end(cx);
        } else {
            // A line cut by the segment's end, or one without a colon.
            zelk_printf(cx.out, "\n  %s", text.c_str());
            list_text(cx, "other_lines", text.c_str());
        }
    }
    if (!all) field(cx, "header_lines", "\n  Header Lines: %u", count);
    if (all && body) field(cx, "body_length", "\n  Body: %lu bytes", static_cast<long>(body));
    if (!head_complete) {
        zelk_printf(cx.out, "\n  [head continues beyond this segment]");
        record_flag(cx, "head_continues", true);
    }
    zelk_printf(cx.out, "\n");
    // The answer to an upgrade to h2c: HTTP/2 frames follow the head.
    if (to_h2c && head_complete)
        http2_upgraded(cx, lengths, frame, offset + static_cast<unsigned>(ip_message_length(cx, p) - body), body > 0);
    return 0;
}
