#include "decode/app/sip.h"

#include <cstring>
#include <string>

#include "decode/app/rtp.h"
#include "decode/app/text_lines.h"

namespace {

// The headers shown by default, with their compact forms; the JSON key
// is the same for both forms. Via (a list, one per hop) and Content-Length
// (a number) are recorded their own way and have no text key here.
struct sip_header {
    const char* name;
    char compact;
    const char* key;
};
constexpr sip_header main_headers[] = {
    {"Via", 'v', nullptr},
    {"From", 'f', "from"},
    {"To", 't', "to"},
    {"Call-ID", 'i', "call_id"},
    {"CSeq", 0, "cseq"},
    {"Contact", 'm', "contact"},
    {"Content-Type", 'c', "content_type"},
    {"Content-Length", 'l', nullptr},
};

const sip_header* find_header(const std::string& name) {
    for (const auto& h : main_headers) {
        if (!strcasecmp(name.c_str(), h.name)) return &h;
        if (name.size() == 1 && h.compact && (name[0] | 0x20) == h.compact) return &h;
    }
    return nullptr;
}

// SDP: one "x=value" per line. Shown: session name, connection address,
// and each media line with its port, transport and formats, followed by
// the codecs that rtpmap lines give the formats.
// `summary` is the SIP message's summary; the media ports join it, since
// the summary line shows the innermost layer's words.
void decode_sdp(decode_context& cx, const uint8_t* p, const uint8_t* end, std::string summary) {
    layer(cx, "sdp", "  - SDP -\n");
    bool all = expanded(false);
    bool in_media = false;
    // What the media lines announce: RTP and RTCP ports of the connection
    // address (the session's, or the media's own).
    std::string session_address, media_address;
    struct announced_media {
        std::string address;
        unsigned port;
        std::vector<std::pair<uint8_t, std::string>> formats;
    };
    std::vector<announced_media> announced;
    for_each_line(cx, p, end, [&](const std::string& text, unsigned) {
        if (text.size() < 2 || text[1] != '=') return;
        std::string value = text.substr(2);
        switch (text[0]) {
            case 's':
                if (!in_media) field(cx, "session", "    Session: %s\n", value);
                break;
            case 'c': {
                field(cx, "connection", "    Connection: %s\n", value);
                // "IN IP4 192.0.2.1", possibly with a TTL behind a slash.
                std::string rest = value;
                take_word(rest);
                take_word(rest);
                std::string address = take_word(rest);
                address = address.substr(0, address.find('/'));
                if (!in_media) session_address = address;
                else if (!announced.empty()) announced.back().address = address;
                break;
            }
            case 'o':
                if (all) field(cx, "origin", "    Origin: %s\n", value);
                break;
            case 'm': {
                if (in_media) item_end(cx);
                in_media = true;
                std::string rest = value;
                std::string media = take_word(rest);
                std::string port = take_word(rest);
                std::string transport = take_word(rest);
                item(cx, "media");
                field(cx, "type", "    Media: %s", media);
                if (!port.empty() && port.size() <= 5 && port.find_first_not_of("0123456789") == std::string::npos)
                    field(cx, "port", ", Port: %u", static_cast<unsigned>(std::stoul(port)));
                if (!transport.empty()) field(cx, "transport", ", Transport: %s", transport);
                summary += ", " + media + " " + port;
                if (transport.find("RTP/") != std::string::npos && !port.empty() && port.size() <= 5 &&
                    port.find_first_not_of("0123456789") == std::string::npos)
                    announced.push_back({"", static_cast<unsigned>(std::stoul(port)), {}});
                if (!rest.empty()) field(cx, "formats", ", Formats: %s", rest);
                zelk_printf(cx.out, "\n");
                break;
            }
            case 'a':
                if (starts_with_nocase(value, "rtpmap:")) {
                    std::string rest = value.substr(7);
                    std::string format = take_word(rest);
                    zelk_printf(cx.out, "      Codec: %s %s\n", format.c_str(), rest.c_str());
                    list_text(cx, "codecs", (format + " " + rest).c_str());
                    bool number = !format.empty() && format.size() <= 3 &&
                                  format.find_first_not_of("0123456789") == std::string::npos;
                    if (in_media && number && !announced.empty() && announced.back().formats.size() < 32)
                        announced.back().formats.emplace_back(static_cast<uint8_t>(std::stoul(format) & 0x7f),
                                                              rest.substr(0, rest.find('/')));
                } else if (all) {
                    zelk_printf(cx.out, "      Attribute: %s\n", value.c_str());
                    list_text(cx, "attributes", value.c_str());
                }
                break;
            default:
                if (all) {
                    zelk_printf(cx.out, "    %s\n", text.c_str());
                    list_text(cx, "other_lines", text.c_str());
                }
                break;
        }
    });
    if (in_media) item_end(cx);
    for (const auto& m : announced)
        announce_sdp_media(cx, m.address.empty() ? session_address : m.address, m.port, m.formats);
    summary_note(cx, "%s", summary.c_str());
}

}  // namespace

int decode_sip(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    const uint8_t* p = header_at(cx, frame, offset);
    const uint8_t* end = p + ip_message_length(cx, p);
    bool response = starts_with(p, static_cast<size_t>(end - p), "SIP/2.0 ");
    text_line first = next_line(cx, p, end);
    // Connections are kept alive with bare line ends (a double CRLF asks,
    // a single one answers).
    if (!first.length) {
        size_t length = static_cast<size_t>(end - p);
        size_t have = captured_from(cx, p, length);
        bool blank = have == length;
        for (size_t i = 0; i < have && blank; ++i) blank = p[i] == '\r' || p[i] == '\n';
        if (blank) {
            layer(cx, "sip", "- SIP Keep-alive -");
            bump(cx.counters.sip);
            field(cx, "keepalive_length", "\n  Length: %lu\n", static_cast<unsigned long>(length));
            summary_note(cx, "keep-alive");
            return 0;
        }
    }
    layer(cx, "sip", response ? "- SIP Response -" : "- SIP Request -");
    bump(cx.counters.sip);
    std::string summary;
    std::string rest = line_text(cx, first);
    if (response) {
        std::string version = take_word(rest);
        std::string status = take_word(rest);
        bool numeric = status.size() == 3 && status.find_first_not_of("0123456789") == std::string::npos;
        if (numeric)
            field(cx, "status", "\n  Status: %u", static_cast<unsigned>(std::stoul(status)));
        else
            field(cx, "status_text", "\n  Status: %s", status);
        field(cx, "reason", ", Reason: %s\n", rest);
        summary = status + " " + rest;
    } else {
        std::string method = take_word(rest);
        std::string uri = take_word(rest);
        field(cx, "method", "\n  Method: %s", method);
        field(cx, "uri", ", URI: %s", uri);
        field(cx, "version", ", Version: %s\n", rest);
        summary = method + " " + uri;
    }
    summary_note(cx, "%s", summary.c_str());
    if (!first.next) {
        zelk_printf(cx.out, "  [head continues beyond this segment]\n");
        record_flag(cx, "head_continues", true);
        return 0;
    }
    bool all = expanded(false);
    bool sdp = false;
    unsigned others = 0;
    const uint8_t* body = for_each_header(cx, first.next, end, [&](const std::string& name, const std::string& value) {
        const sip_header* h = find_header(name);
        if (h && h->compact == 'c' && starts_with_nocase(value, "application/sdp")) sdp = true;
        if (h) {
            zelk_printf(cx.out, "  %s: %s\n", h->name, value.c_str());
            bool digits = !value.empty() && value.size() <= 9 && value.find_first_not_of("0123456789") == std::string::npos;
            if (h->key)
                record_text(cx, h->key, value);
            else if (h->compact == 'v')  // Via may repeat, one per hop.
                list_text(cx, "via", value.c_str());
            else if (digits)
                record_number(cx, "content_length", std::stol(value));
            else
                record_text(cx, "content_length_text", value);
            return;
        }
        ++others;
        if (!all) return;
        item(cx, "headers");
        zelk_printf(cx.out, "  %s: %s\n", name.c_str(), value.c_str());
        record_text(cx, "name", name);
        record_text(cx, "value", value);
        item_end(cx);
    });
    if (!all && others) field(cx, "other_headers", "  Other Headers: %u\n", others);
    if (!body) {
        zelk_printf(cx.out, "  [head continues beyond this segment]\n");
        record_flag(cx, "head_continues", true);
        return 0;
    }
    if (body < end) {
        field(cx, "body_length", "  Body: %ld bytes\n", static_cast<long>(end - body));
        if (sdp) decode_sdp(cx, body, end, summary);
    }
    return 0;
}
