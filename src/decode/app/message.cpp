#include "decode/app/message.h"

#include <arpa/inet.h>

#include <cctype>
#include <string>

void message::past_end() const {
    if (cut) throw_truncated();
    if (continues) throw malformed_message{"the message continues in a later segment", true};
    throw malformed_message{"a length runs past the end of the message"};
}

message payload_message(const uint8_t* frame, unsigned offset) {
    const uint8_t* p = header_at(frame, offset);
    return message{p, ip_message_length(p), current_frame.ip_payload_cut};
}

void report_malformed(const malformed_message& m) {
    record_text("error", m.reason);
    if (m.continues) {
        zelk_printf("  [%s]\n", m.reason);
        return;
    }
    if (recording()) mark_frame_cut(true);
    zelk_printf("  [malformed: %s]\n", m.reason);
}

const char* ipv6_text(const uint8_t* a) {
    static char text[INET6_ADDRSTRLEN];
    need(a, 16);
    inet_ntop(AF_INET6, a, text, sizeof text);
    return text;
}

const char* printable_text(const uint8_t* p, size_t n) {
    static std::string text;
    need(p, n);
    text.assign(n, '.');
    for (size_t i = 0; i < n; ++i)
        if (isprint(p[i])) text[i] = static_cast<char>(p[i]);
    return text.c_str();
}
