#include "decode/app/message.h"

#include <arpa/inet.h>

#include <cctype>
#include <string>

void message::past_end() const {
    if (cut) throw_truncated();
    if (continues) throw malformed_message{"the message continues in a later segment", true};
    throw malformed_message{"a length runs past the end of the message"};
}

message payload_message(decode_context& cx, const uint8_t* frame, unsigned offset) {
    const uint8_t* p = header_at(cx, frame, offset);
    return message{&cx, p, ip_message_length(cx, p), cx.ip_payload_cut};
}

void report_malformed(decode_context& cx, const malformed_message& m) {
    record_text(cx, "error", m.reason);
    if (m.continues) {
        zelk_printf(cx.out, "  [%s]\n", m.reason);
        return;
    }
    if (recording()) mark_frame_cut(cx, true);
    zelk_printf(cx.out, "  [malformed: %s]\n", m.reason);
}

short_text ipv6_text(const decode_context& cx, const uint8_t* a) {
    short_text result;
    need(cx, a, 16);
    inet_ntop(AF_INET6, a, result.text, sizeof result.text);
    return result;
}
