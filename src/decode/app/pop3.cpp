#include "decode/app/pop3.h"

#include <string>

#include "decode/app/text_lines.h"

namespace {

bool pop3_line(decode_context& cx, const std::string& text, bool print) {
    // Replies begin with a status indicator; "+ " continues a SASL exchange.
    for (const char* status : {"+OK", "-ERR", "+"}) {
        if (!starts_with_nocase(text, status)) continue;
        size_t n = std::char_traits<char>::length(status);
        if (text.size() > n && text[n] != ' ') continue;
        if (!print) return true;
        field(cx, "status", "  Status: %s", status);
        if (text.size() > n + 1) field(cx, "text", ", Text: %s", text.substr(n + 1));
        return true;
    }
    std::string verb, argument;
    if (!parse_command(text, verb, argument) || verb.size() > 4) return false;
    if (print) print_command(cx, verb, argument);
    return true;
}

}  // namespace

int decode_pop3(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    static constexpr exchange_protocol pop3{"pop3", "- POP3 -", &protocol_counters::pop3, pop3_line};
    return decode_exchange(cx, frame, offset, pop3);
}
