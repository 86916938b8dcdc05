#include "decode/app/smtp.h"

#include <strings.h>

#include <iterator>
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

// The header fields of a mail that are shown (names in any case), in the
// order of show_header.
constexpr const char* mail_headers[] = {"From",       "To",           "Cc",           "Subject", "Date",
                                        "Message-ID", "MIME-Version", "Content-Type", "X-Mailer"};

void show_header(decode_context& cx, size_t which, const std::string& value) {
    switch (which) {
        case 0: field(cx, "header_from", "  Mail From: %s\n", value); break;
        case 1: field(cx, "header_to", "  Mail To: %s\n", value); break;
        case 2: field(cx, "header_cc", "  Mail Cc: %s\n", value); break;
        case 3: field(cx, "header_subject", "  Mail Subject: %s\n", value); break;
        case 4: field(cx, "header_date", "  Mail Date: %s\n", value); break;
        case 5: field(cx, "header_message_id", "  Mail Message-ID: %s\n", value); break;
        case 6: field(cx, "header_mime_version", "  Mail MIME-Version: %s\n", value); break;
        case 7: field(cx, "header_content_type", "  Mail Content-Type: %s\n", value); break;
        default: field(cx, "header_x_mailer", "  Mail X-Mailer: %s\n", value); break;
    }
}
constexpr size_t max_header_length = 1024;

// "Name:" with a name of printable characters other than blanks and ':'.
size_t header_name_length(const std::string& line) {
    size_t colon = line.find(':');
    if (colon == 0 || colon == std::string::npos) return 0;
    for (size_t i = 0; i < colon; ++i)
        if (line[i] <= ' ' || line[i] > '~') return 0;
    return colon;
}

// The head of a mail sent after DATA: the segment starts with a header
// field. Shows the fields of mail_headers, each once, folded lines joined,
// up to the empty line or the segment's end.
void mail_head(decode_context& cx, const uint8_t* p, const uint8_t* end) {
    std::string name, value;
    bool shown[std::size(mail_headers)] = {};
    auto show = [&]() {
        for (size_t i = 0; i < std::size(mail_headers); ++i)
            if (!shown[i] && strcasecmp(name.c_str(), mail_headers[i]) == 0) {
                shown[i] = true;
                show_header(cx, i, value);
            }
        name.clear();
    };
    for (unsigned n = 0; p < end && n < max_text_lines; ++n) {
        text_line line = next_line(cx, p, end);
        std::string text = line_text(cx, line);
        if (!line.next || text.empty()) break;
        p = line.next;
        // (The text shows a tab as '.': the byte tells.)
        uint8_t first = get_u8(cx, line.start);
        if (first == ' ' || first == '\t') {
            // A folded line continues the field before it (one character
            // of the text per byte).
            size_t start = 1;
            while (start < line.length && start < text.size() &&
                   (get_u8(cx, line.start + start) == ' ' || get_u8(cx, line.start + start) == '\t'))
                ++start;
            if (!name.empty() && start < text.size() && value.size() < max_header_length)
                value += " " + text.substr(start);
            continue;
        }
        if (!name.empty()) show();
        size_t colon = header_name_length(text);
        if (!colon) {
            if (n == 0) return;  // no head: the body of a longer mail
            break;
        }
        name = text.substr(0, colon);
        size_t v = text.find_first_not_of(" \t", colon + 1);
        value = v == std::string::npos ? std::string() : text.substr(v);
    }
    if (!name.empty()) show();
}

}  // namespace

int decode_smtp(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    static constexpr exchange_protocol smtp{"smtp", "- SMTP -", &protocol_counters::smtp, smtp_line, mail_head};
    return decode_exchange(cx, frame, offset, smtp);
}
