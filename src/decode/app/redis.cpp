#include "decode/app/redis.h"

#include <cstring>
#include <string>

#include "decode/app/app_text.h"
#include "decode/app/text_lines.h"

namespace {

// Nested arrays beyond this depth, and more elements than this in one
// segment, are not walked.
constexpr unsigned max_depth = 8;
constexpr unsigned max_elements = 1024;

struct resp_reader {
    decode_context& cx;
    const uint8_t* p;
    const uint8_t* end;
    bool replying;
    unsigned elements = 0;
    bool cut = false;    // the segment ends inside a value
    bool noted = false;  // the summary tells of the first value only
    bool first_note() {
        if (noted) return false;
        noted = true;
        return true;
    }

    // The rest of the current line after its type byte.
    bool line(std::string& text) {
        text_line l = next_line(cx, p, end);
        if (!l.next) {
            cut = true;
            return false;
        }
        text = line_text(cx, l).substr(1);
        p = l.next;
        return true;
    }

    static bool number(const std::string& text, long long& n) {
        if (text.empty() || text.size() > 18) return false;
        size_t i = text[0] == '-' ? 1 : 0;
        if (i == text.size() || text.find_first_not_of("0123456789", i) != std::string::npos) return false;
        n = std::stoll(text);
        return true;
    }

    // One value, shown when `show` is set (indented by its depth); the
    // words of a command are gathered into `word` instead.
    bool value(unsigned depth, std::string* word, bool show) {
        if (p >= end || ++elements > max_elements) return false;
        uint8_t type = get_u8(cx, p);
        std::string text;
        switch (type) {
            case '+':
            case '-':
            case ':':
            case ',':
            case '#':
            case '_':
                if (!line(text)) return false;
                if (word) *word = text;
                if (show) {
                    indent(depth);
                    const char* kind = type == '+' ? "simple string" : type == '-' ? "error" : "number";
                    field(cx, "type", "  Type: %s", kind);
                    field(cx, "value", ", Value: %s\n", text);
                    if (first_note()) summary_note(cx, "%s%s", type == '-' ? "error " : "", text.c_str());
                }
                return true;
            case '$': {
                long long n;
                if (!line(text) || !number(text, n)) return false;
                std::string bulk;
                if (n >= 0) {
                    if (static_cast<size_t>(end - p) < static_cast<size_t>(n) + 2) {
                        cut = true;
                        return false;
                    }
                    size_t show = n > 200 ? 200 : static_cast<size_t>(n);
                    bulk = printable_text(cx, p, show);
                    p += n + 2;
                }
                if (word) *word = bulk;
                if (show) {
                    indent(depth);
                    field(cx, "type", "  Type: %s", "bulk string");
                    field(cx, "length", ", Length: %ld", static_cast<long>(n));
                    if (n >= 0) field(cx, "value", ", Value: %s", bulk);
                    zelk_printf(cx.out, "\n");
                    if (first_note()) summary_note(cx, "bulk %lld bytes", n);
                }
                return true;
            }
            case '*':
            case '>':
            case '~': {
                long long n;
                if (!line(text) || !number(text, n) || depth >= max_depth) return false;
                if (depth == 0 && !replying) return top_array(n);
                if (!show) {
                    for (long long i = 0; i < n; ++i)
                        if (!value(depth + 1, nullptr, false)) return false;
                    return true;
                }
                return reply_array(depth, n);
            }
            default: return false;
        }
    }

    void indent(unsigned depth) {
        if (depth) zelk_printf(cx.out, "%*s", static_cast<int>(2 * depth), "");
    }

    // An array the server sends: its length and every element, each an
    // item (a nil array has the length -1 and none).
    bool reply_array(unsigned depth, long long n) {
        indent(depth);
        field(cx, "type", "  Type: %s", "array");
        field(cx, "elements", ", Elements: %ld\n", static_cast<long>(n));
        if (depth == 0 && first_note()) summary_note(cx, "array %lld elements", n);
        for (long long i = 0; i < n; ++i) {
            item(cx, "items");
            bool ok = value(depth + 1, nullptr, true);
            item_end(cx);
            if (!ok) return false;
        }
        return true;
    }

    // A client's command is an array of bulk strings: the first is the
    // command, the rest its arguments.
    bool top_array(long long n) {
        field(cx, "elements", "  Array: %ld elements\n", static_cast<long>(n));
        bool all = expanded(false);
        std::string command;
        for (long long i = 0; i < n; ++i) {
            std::string word;
            if (!value(1, &word, false)) return false;
            if (i == 0) {
                command = word;
                field(cx, "command", "  Command: %s\n", word);
            } else if (all) {
                zelk_printf(cx.out, "    Argument: %s\n", word.c_str());
                list_text(cx, "arguments", word.c_str());
            }
        }
        if (first_note()) summary_note(cx, "%s%s%lld elements", command.c_str(), command.empty() ? "" : ", ", n);
        return true;
    }
};

}  // namespace

int decode_redis(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    const uint8_t* p = header_at(cx, frame, offset);
    const uint8_t* end = p + ip_message_length(cx, p);
    layer(cx, "redis", "- Redis -\n");
    bump(cx.counters.redis);
    // What the server sends are replies; what goes to it, commands.
    resp_reader r{cx, p, end, cx.source_port == 6379};
    // One segment may hold several pipelined values; the first is shown,
    // every one under --expand-all.
    unsigned values = 0;
    bool all = expanded(false);
    while (r.p < end && values < max_elements) {
        if (values && !all) break;
        // Empty lines between values (redis-cli --pipe sends one) are
        // passed over, as the server does.
        while (r.p < end && (get_u8(cx, r.p) == '\r' || get_u8(cx, r.p) == '\n')) ++r.p;
        if (r.p >= end) break;
        // What does not start with a type byte is no RESP value at all.
        if (!strchr("+-:$*,#_>~", get_u8(cx, r.p)) || !get_u8(cx, r.p)) {
            zelk_printf(cx.out, "  [not RESP: %ld bytes]\n", static_cast<long>(end - r.p));
            record_number(cx, "unknown_length", end - r.p);
            return 0;
        }
        item(cx, "values");
        bool ok = r.value(0, nullptr, true);
        item_end(cx);
        if (!ok) {
            if (r.cut) {
                zelk_printf(cx.out, "  [value continues beyond this segment]\n");
                record_flag(cx, "value_continues", true);
            } else {
                zelk_printf(cx.out, "  [not RESP: %ld bytes]\n", static_cast<long>(end - r.p));
                record_number(cx, "unknown_length", end - r.p);
            }
            return 0;
        }
        ++values;
    }
    if (!all && r.p < end) field(cx, "more_bytes", "  More: %ld bytes\n", static_cast<long>(end - r.p));
    return 0;
}
