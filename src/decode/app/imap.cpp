#include "decode/app/imap.h"

#include <cctype>
#include <string>

#include "decode/app/text_lines.h"

namespace {

bool is_status(const std::string& word) {
    return word == "OK" || word == "NO" || word == "BAD" || word == "PREAUTH" || word == "BYE";
}

bool imap_line(decode_context& cx, const std::string& text, bool print) {
    if (text.empty()) return false;
    if (text == "+" || starts_with_nocase(text, "+ ")) {
        if (print) field(cx, "continuation", "  Continuation: %s", text.size() > 2 ? text.substr(2) : std::string());
        return true;
    }
    std::string rest = text;
    std::string tag = take_word(rest);
    // Tags are atoms: no brackets, quotes or wildcards.
    if (tag != "*" && (tag.find_first_of("(){%\"\\]") != std::string::npos || tag.size() > 32)) return false;
    std::string word = take_word(rest);
    if (word.empty() || (tag != "*" && !isalpha(static_cast<unsigned char>(word[0])))) return false;
    if (!print) return true;
    if (tag == "*") {
        field(cx, "untagged", "  Untagged: %s", word);
        if (!rest.empty()) field(cx, "text", ", Text: %s", rest);
        return true;
    }
    field(cx, "tag", "  Tag: %s", tag);
    if (is_status(word)) {
        field(cx, "status", ", Status: %s", word);
        if (!rest.empty()) field(cx, "text", ", Text: %s", rest);
    } else {
        field(cx, "command", ", Command: %s", word);
        if (!rest.empty()) field(cx, "argument", ", Argument: %s", rest);
    }
    return true;
}

}  // namespace

int decode_imap(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    static constexpr exchange_protocol imap{"imap", "- IMAP -", &protocol_counters::imap, imap_line};
    return decode_exchange(cx, frame, offset, imap);
}
