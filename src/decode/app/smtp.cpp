#include "decode/app/smtp.h"

#include <string>

#include "decode/app/text_lines.h"

namespace {

bool smtp_line(decode_context& cx, const std::string& text, bool print) {
    reply_line reply;
    std::string verb, argument;
    if (parse_reply(text, reply)) {
        if (print) print_reply(cx, reply);
        return true;
    }
    // Mail content ("Subject: ...") is no command: a verb ends in a blank
    // or the end of the line.
    if (!parse_command(text, verb, argument)) return false;
    if (!print) return true;
    print_command(cx, verb, argument);
    // MAIL FROM:<a> and RCPT TO:<b> name the envelope addresses.
    size_t open = argument.find('<'), close = argument.find('>');
    if (open != std::string::npos && close != std::string::npos && close > open) {
        std::string address = argument.substr(open + 1, close - open - 1);
        if (starts_with_nocase(verb, "MAIL") && starts_with_nocase(argument, "FROM:"))
            record_text(cx, "mail_from", address);
        if (starts_with_nocase(verb, "RCPT") && starts_with_nocase(argument, "TO:"))
            record_text(cx, "rcpt_to", address);
    }
    return true;
}

}  // namespace

int decode_smtp(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    static constexpr exchange_protocol smtp{"smtp", "- SMTP -", &protocol_counters::smtp, smtp_line};
    return decode_exchange(cx, frame, offset, smtp);
}
