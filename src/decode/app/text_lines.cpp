#include "decode/app/text_lines.h"

#include <cctype>
#include <cstring>

#include "decode/app/app_text.h"

text_line next_line(decode_context& cx, const uint8_t* p, const uint8_t* end) {
    size_t have = captured_from(cx, p, static_cast<size_t>(end - p));
    const uint8_t* lf = static_cast<const uint8_t*>(memchr(p, '\n', have));
    if (!lf) return {p, have, nullptr};
    size_t length = static_cast<size_t>(lf - p);
    if (length && lf[-1] == '\r') --length;
    return {p, length, lf + 1};
}

std::string line_text(decode_context& cx, const text_line& line) { return printable_text(cx, line.start, line.length); }

bool starts_with(const uint8_t* p, size_t n, const char* prefix) {
    size_t k = strlen(prefix);
    return n >= k && !memcmp(p, prefix, k);
}

bool starts_with_nocase(const std::string& text, const char* prefix) {
    size_t k = strlen(prefix);
    return text.size() >= k && !strncasecmp(text.c_str(), prefix, k);
}

std::string take_word(std::string& rest) {
    size_t blank = rest.find(' ');
    std::string word = rest.substr(0, blank);
    size_t next = blank == std::string::npos ? rest.size() : rest.find_first_not_of(' ', blank);
    rest.erase(0, next == std::string::npos ? rest.size() : next);
    return word;
}

bool parse_reply(const std::string& line, reply_line& reply) {
    if (line.size() < 3) return false;
    for (int i = 0; i < 3; ++i)
        if (!isdigit(static_cast<unsigned char>(line[i]))) return false;
    if (line.size() > 3 && line[3] != ' ' && line[3] != '-') return false;
    reply.code = static_cast<unsigned>((line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0'));
    reply.continues = line.size() > 3 && line[3] == '-';
    reply.text = line.size() > 4 ? line.substr(4) : std::string();
    return true;
}

bool parse_command(const std::string& line, std::string& verb, std::string& argument) {
    size_t n = 0;
    while (n < line.size() && line[n] != ' ') {
        unsigned char c = static_cast<unsigned char>(line[n]);
        if (!(isalpha(c) || (n && isdigit(c)))) return false;
        ++n;
    }
    if (n < 3 || n > 12) return false;
    verb = line.substr(0, n);
    argument = n < line.size() ? line.substr(n + 1) : std::string();
    return true;
}

void print_reply(decode_context& cx, const reply_line& reply) {
    field(cx, "reply", "  Reply: %u", reply.code);
    if (!reply.text.empty()) field(cx, "text", ", Text: %s", reply.text);
    if (reply.continues) {
        zelk_printf(cx.out, " (continues)");
        record_flag(cx, "continues", true);
    }
}

void print_command(decode_context& cx, const std::string& verb, const std::string& argument) {
    field(cx, "command", "  Command: %s", verb);
    if (!argument.empty()) field(cx, "argument", ", Argument: %s", argument);
}

int decode_exchange(decode_context& cx, const uint8_t* frame, unsigned offset, const exchange_protocol& protocol) {
    const uint8_t* p = header_at(cx, frame, offset);
    const uint8_t* end = p + ip_message_length(cx, p);
    layer(cx, protocol.proto, protocol.banner);
    zelk_printf(cx.out, "\n");
    bump(cx.counters.*protocol.counter);
    bool all = expanded(false);
    bool content = false;
    auto show = [&](const std::string& text, unsigned index) {
        if (content || (index && !all)) return;
        if (index == 0) {
            if (!protocol.line(cx, text, false)) {
                content = true;
                return;
            }
            // The summary shows the first line as it was sent.
            summary_note(cx, "%.60s", text.c_str());
        }
        item(cx, "lines");
        if (!protocol.line(cx, text, true)) field(cx, "text", "  Line: %s", text);
        zelk_printf(cx.out, "\n");
        item_end(cx);
    };
    std::string cut;
    unsigned lines = for_each_line(cx, p, end, show, &cut);
    // A segment that ends inside its only line still shows that line.
    if (!lines && !cut.empty()) show(cut, 0);
    if (content) {
        field(cx, "content_length", "  Data: %ld bytes\n", static_cast<long>(end - p));
        summary_note(cx, "data %ld bytes", static_cast<long>(end - p));
        if (protocol.content) protocol.content(cx, p, end);
        return 0;
    }
    if (!all && lines > 1) field(cx, "line_count", "  Lines: %u\n", lines);
    if (!cut.empty()) {
        zelk_printf(cx.out, "  [line continues beyond this segment]\n");
        record_flag(cx, "line_continues", true);
    }
    return 0;
}
