#include "decode/app/syslog.h"

#include "decode/app/message.h"
#include "decode/decoder.h"

namespace {

constexpr const char* facilities[] = {
    "kern",   "user",   "mail",     "daemon", "auth",   "syslog",   "lpr",     "news",
    "uucp",   "cron",   "authpriv", "ftp",    "ntp",    "security", "console", "solaris-cron",
    "local0", "local1", "local2",   "local3", "local4", "local5",   "local6",  "local7",
};
constexpr const char* severities[] = {"emerg", "alert", "crit", "err", "warning", "notice", "info", "debug"};

// The priority is "<" 1 to 3 digits ">", at most 191.
bool read_priority(const message& m, unsigned& priority, size_t& end) {
    if (m.u8(0) != '<') return false;
    priority = 0;
    size_t i = 1;
    for (; i < m.length && i <= 4; ++i) {
        uint8_t c = m.u8(i);
        if (c == '>') break;
        if (c < '0' || c > '9') return false;
        priority = priority * 10 + (c - '0');
    }
    if (i == 1 || i >= m.length || i > 4 || m.u8(i) != '>' || priority > 191) return false;
    end = i + 1;
    return true;
}

}  // namespace

int decode_syslog(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    layer(cx, "syslog", "- Syslog Message -\n");
    bump(cx.counters.syslog);
    message m = payload_message(cx, frame, offset);
    unsigned priority = 0;
    size_t text = 0;
    if (read_priority(m, priority, text)) {
        unsigned facility = priority >> 3;
        unsigned severity = priority & 7;
        field(cx, "priority", "  Priority: %u", priority);
        field(cx, "facility", ", Facility: %u", facility);
        print_name(cx, "facility", facilities[facility]);
        field(cx, "severity", ", Severity: %u", severity);
        print_name(cx, "severity", severities[severity]);
        zelk_printf(cx.out, "\n");
    } else {
        record_text(cx, "error", "no priority");
        zelk_printf(cx.out, "  [no priority]\n");
    }
    size_t length = m.length - text;
    const uint8_t* p = m.at(text, length);
    zelk_printf(cx.out, "  Message: \"");
    print_text_bytes(cx, p, length);
    zelk_printf(cx.out, "\"\n");
    if (recording()) {
        std::string words = printable_text(cx, p, length);
        record_text(cx, "message", words);
        if (text)
            summary_note(cx, "%s.%s %.60s", facilities[priority >> 3], severities[priority & 7], words.c_str());
        else
            summary_note(cx, "%.60s", words.c_str());
    }
    // The text goes on beyond the snap length.
    if (m.cut) throw_truncated();
    return 0;
}
