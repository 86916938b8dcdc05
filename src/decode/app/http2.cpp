#include "decode/app/http2.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "decode/app/app_text.h"
#include "decode/app/hpack.h"
#include "decode/app/message.h"
#include "decode/app/sessions.h"
#include "decode/decoder.h"

namespace {

constexpr char preface[] = "PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n";
constexpr size_t preface_length = 24;
// Frames shown from one segment; a header block gathered from CONTINUATION
// frames is given up beyond this size.
constexpr unsigned max_frames = 256;
constexpr size_t max_block = 256 * 1024;
constexpr unsigned max_settings = 64;

constexpr const char* frame_types[] = {"DATA",         "HEADERS", "PRIORITY", "RST_STREAM",    "SETTINGS",
                                       "PUSH_PROMISE", "PING",    "GOAWAY",   "WINDOW_UPDATE", "CONTINUATION"};
constexpr const char* error_codes[] = {
    "NO_ERROR",
    "PROTOCOL_ERROR",
    "INTERNAL_ERROR",
    "FLOW_CONTROL_ERROR",
    "SETTINGS_TIMEOUT",
    "STREAM_CLOSED",
    "FRAME_SIZE_ERROR",
    "REFUSED_STREAM",
    "CANCEL",
    "COMPRESSION_ERROR",
    "CONNECT_ERROR",
    "ENHANCE_YOUR_CALM",
    "INADEQUATE_SECURITY",
    "HTTP_1_1_REQUIRED",
};
constexpr const char* settings_names[] = {
    nullptr,          "HEADER_TABLE_SIZE",    "ENABLE_PUSH", "MAX_CONCURRENT_STREAMS",  "INITIAL_WINDOW_SIZE",
    "MAX_FRAME_SIZE", "MAX_HEADER_LIST_SIZE", nullptr,       "ENABLE_CONNECT_PROTOCOL", "NO_RFC7540_PRIORITIES",
};

constexpr uint8_t END_STREAM = 0x01, ACK = 0x01, END_HEADERS = 0x04, PADDED = 0x08, PRIORITY = 0x20;

thread_local std::string facts;
// The facts came from a header block, which says more than a frame type.
thread_local bool facts_from_headers;

void note(const char* format, ...) ZELK_PRINTF_FMT(1, 2);
void note(const char* format, ...) {
    if (!settings.summary || !facts.empty()) return;
    char text[256];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    facts = text;
}

std::string flag_names(uint8_t type, uint8_t flags) {
    std::string names;
    auto add = [&](uint8_t bit, const char* name) {
        if (!(flags & bit)) return;
        if (!names.empty()) names += ", ";
        names += name;
    };
    switch (type) {
        case 0: add(END_STREAM, "END_STREAM"), add(PADDED, "PADDED"); break;
        case 1:
            add(END_STREAM, "END_STREAM"), add(END_HEADERS, "END_HEADERS"), add(PADDED, "PADDED"),
                add(PRIORITY, "PRIORITY");
            break;
        case 4:
        case 6: add(ACK, "ACK"); break;
        case 5: add(END_HEADERS, "END_HEADERS"), add(PADDED, "PADDED"); break;
        case 9: add(END_HEADERS, "END_HEADERS"); break;
        default: break;
    }
    return names.empty() ? "none" : names;
}

struct frame_body : message_cursor {
    frame_body(const message& body, size_t from, size_t to)
        : message_cursor{body, from, to, "a field runs past the end of its frame"} {}
    // Padding (a length byte, then that many bytes at the end) taken off.
    void unpad(uint8_t flags) {
        if (!(flags & PADDED)) return;
        uint8_t pad = u8();
        if (pad > left()) throw malformed_message{"padding longer than the frame"};
        end -= pad;
    }
};

void print_priority(decode_context& cx, frame_body& b) {
    uint32_t dependency = b.be32();
    uint8_t weight = b.u8();
    field(cx, "dependency", "    Dependency: %u", dependency & 0x7fffffffu);
    field(cx, "exclusive", ", Exclusive: %u", dependency >> 31);
    field(cx, "weight", ", Weight: %u\n", weight + 1u);
}

void print_headers(decode_context& cx, h2_direction& d, const std::string& block) {
    if (d.table_lost) {
        zelk_printf(cx.out, "    [header block not decoded: an earlier one failed]\n");
        record_text(cx, "hpack_error", "an earlier block failed");
        return;
    }
    hpack_result r = hpack_decode(d.table, reinterpret_cast<const uint8_t*>(block.data()), block.size());
    bool all = expanded(false);
    unsigned others = 0;
    std::string method, path, status;
    for (const auto& [name, value] : r.headers) {
        std::string n = name, v = value;
        for (char& c : n)
            if (!printable_byte(static_cast<uint8_t>(c))) c = '.';
        for (char& c : v)
            if (!printable_byte(static_cast<uint8_t>(c))) c = '.';
        if (name == ":method") method = v;
        if (name == ":path") path = v;
        if (name == ":status") status = v;
        // Pseudo-headers are recorded under keys of their own.
        bool pseudo = true;
        if (name == ":method")
            record_text(cx, "method", v);
        else if (name == ":path")
            record_text(cx, "path", v);
        else if (name == ":status")
            record_text(cx, "status", v);
        else if (name == ":authority")
            record_text(cx, "authority", v);
        else if (name == ":scheme")
            record_text(cx, "scheme", v);
        else
            pseudo = false;
        if (pseudo) {
            zelk_printf(cx.out, "    %s: %s\n", n.c_str(), v.c_str());
            continue;
        }
        ++others;
        if (!all) continue;
        item(cx, "headers");
        zelk_printf(cx.out, "    %s: %s\n", n.c_str(), v.c_str());
        record_text(cx, "name", n);
        record_text(cx, "value", v);
        item_end(cx);
    }
    if (!all && others) field(cx, "other_headers", "    Other Headers: %u\n", others);
    if (all) {
        field(cx, "table_size", "    Header Table: %lu bytes", static_cast<unsigned long>(d.table.size));
        field(cx, "table_entries", ", %lu entries\n", static_cast<unsigned long>(d.table.entries.size()));
    }
    if (r.error) {
        d.table_lost = true;
        zelk_printf(cx.out, "    [malformed header block: %s]\n", r.error);
        record_text(cx, "hpack_error", r.error);
        if (recording()) mark_frame_cut(cx, true);
    }
    if (settings.summary && !facts_from_headers && (!method.empty() || !status.empty())) {
        facts = method.empty() ? "HEADERS " + status : "HEADERS " + method + " " + path;
        facts_from_headers = true;
    }
}

// A header block fragment: decoded when it ends the block, kept otherwise.
void header_fragment(decode_context& cx, h2_direction& d, frame_body& b, uint8_t flags, uint32_t stream,
                     bool continuation) {
    size_t n = b.left();
    const uint8_t* p = b.take(n);
    if (continuation) {
        if (!d.in_block || d.block_stream != stream) {
            zelk_printf(cx.out, "    [no header block to continue]\n");
            record_text(cx, "hpack_error", "no header block to continue");
            return;
        }
        if (d.block.size() + n > max_block) {
            d.in_block = false;
            d.block.clear();
            d.table_lost = true;
            zelk_printf(cx.out, "    [header block longer than 256 KiB]\n");
            record_text(cx, "hpack_error", "header block longer than 256 KiB");
            return;
        }
        d.block.append(reinterpret_cast<const char*>(p), n);
    } else {
        d.block.assign(reinterpret_cast<const char*>(p), n);
        d.block_stream = stream;
    }
    d.in_block = !(flags & END_HEADERS);
    if (d.in_block) {
        field(cx, "block_length", "    Header Block: %lu bytes so far\n", static_cast<unsigned long>(d.block.size()));
        return;
    }
    print_headers(cx, d, d.block);
    d.block.clear();
}

void frame_fields(decode_context& cx, h2_direction& d, h2_direction& back, uint8_t type, uint8_t flags, uint32_t stream,
                  frame_body& b) {
    switch (type) {
        case 0:
            b.unpad(flags);
            field(cx, "data_length", "    Data: %lu bytes\n", static_cast<unsigned long>(b.left()));
            return;
        case 1:
            b.unpad(flags);
            if (flags & PRIORITY) print_priority(cx, b);
            header_fragment(cx, d, b, flags, stream, false);
            return;
        case 2: print_priority(cx, b); return;
        case 3: {
            uint32_t code = b.be32();
            field(cx, "error_code", "    Error: %u", code);
            print_name(cx, "error_code", dense_name(error_codes, code, "unknown"));
            zelk_printf(cx.out, "\n");
            note("RST_STREAM %s", dense_name(error_codes, code, "unknown"));
            return;
        }
        case 4:
            for (unsigned n = 0; b.left() >= 6 && n < max_settings; ++n) {
                uint16_t id = b.be16();
                uint32_t value = b.be32();
                item(cx, "settings");
                item_closer close(cx);
                field(cx, "id", "    Setting: %u", id);
                print_name(cx, "id", dense_name(settings_names, id, "unknown"));
                field(cx, "setting_value", ", Value: %u\n", value);
                // The sender's limit for the table its peer encodes into.
                if (id == 1) back.table.limit = value < hpack_hard_cap ? value : hpack_hard_cap;
            }
            return;
        case 5: {
            b.unpad(flags);
            field(cx, "promised_stream", "    Promised Stream: %u\n", b.be32() & 0x7fffffffu);
            header_fragment(cx, d, b, flags, stream, false);
            return;
        }
        case 6: {
            const uint8_t* p = b.take(8);
            char hex[17];
            for (int i = 0; i < 8; ++i) snprintf(hex + 2 * i, 3, "%02x", p[i]);
            field(cx, "ping_data", "    Data: %s\n", hex);
            return;
        }
        case 7: {
            uint32_t last = b.be32() & 0x7fffffffu;
            uint32_t code = b.be32();
            field(cx, "last_stream", "    Last Stream: %u", last);
            field(cx, "error_code", ", Error: %u", code);
            print_name(cx, "error_code", dense_name(error_codes, code, "unknown"));
            if (b.left()) field(cx, "debug_length", ", Debug Data: %lu bytes", static_cast<unsigned long>(b.left()));
            zelk_printf(cx.out, "\n");
            note("GOAWAY %s", dense_name(error_codes, code, "unknown"));
            return;
        }
        case 8: field(cx, "window_increment", "    Increment: %u\n", b.be32() & 0x7fffffffu); return;
        case 9: header_fragment(cx, d, b, flags, stream, true); return;
        default: return;
    }
}

}  // namespace

bool looks_like_h2_preface(const uint8_t* p, size_t n) {
    if (n < 4) return false;
    return memcmp(p, preface, n < preface_length ? n : preface_length) == 0;
}

bool looks_like_h2_settings(decode_context& cx, const uint8_t* p, size_t n) {
    size_t have = captured_from(cx, p, n);
    if (have < 9 || get_u8(cx, p) || get_u8(cx, p + 3) != 4 || get_u8(cx, p + 4) || get_be32(cx, p + 5)) return false;
    size_t length = get_be16(cx, p + 1);
    if (length % 6 || length > 60 || 9 + length > have) return false;
    for (size_t at = 9; at < 9 + length; at += 6) {
        uint16_t id = get_be16(cx, p + at);
        if (id == 0 || id > 16) return false;
    }
    return true;
}

bool known_h2_flow(decode_context& cx, const uint8_t*, size_t) {
    tcp_flow_key key;
    return current_flow(cx, key) && find_h2(cx, key);
}

size_t http2_message_length(const uint8_t* p, size_t n) {
    if (n == 0) return 0;
    if (p[0] == 'P' && memcmp(p, preface, n < preface_length ? n : preface_length) == 0)
        return n >= preface_length ? preface_length : 0;
    if (n < 9) return 0;
    size_t length = 9 + (size_t{p[0]} << 16 | size_t{p[1]} << 8 | p[2]);
    return length <= n ? length : 0;
}

int decode_http2(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    layer(cx, "http2", "- HTTP/2 -\n");
    bump(cx.counters.http2);
    if (tcp_payload_continues(cx)) {
        zelk_printf(cx.out, "  [continues a frame of an earlier segment]\n");
        record_flag(cx, "continuation", true);
        return 0;
    }
    tcp_flow_key key, back_key;
    if (!current_flow(cx, key) || !current_flow(cx, back_key, true)) return 0;
    h2_direction& d = touch_h2(cx, key);
    h2_direction& back = touch_h2(cx, back_key);
    d.framed = back.framed = true;
    message m = payload_message(cx, frame, offset);
    m.continues = true;
    size_t at = 0;
    unsigned n = 0;
    facts.clear();
    facts_from_headers = false;
    try {
        if (m.length && m.u8(0) == 'P' && looks_like_h2_preface(m.start, captured_from(cx, m.start, m.length))) {
            m.at(0, preface_length);
            zelk_printf(cx.out, "  Connection Preface\n");
            // A new connection on these ports: the client's table starts
            // empty (the limit its peer announced stays).
            size_t limit = d.table.limit;
            auto order = d.order;
            d = h2_direction{};
            d.table.limit = limit;
            d.order = order;
            record_flag(cx, "preface", true);
            note("preface");
            at = preface_length;
        }
        for (; at < m.length && n < max_frames; ++n) {
            const uint8_t* h = m.at(at, 9);
            uint32_t length = uint32_t{get_u8(cx, h)} << 16 | get_be16(cx, h + 1);
            uint8_t type = get_u8(cx, h + 3), flags = get_u8(cx, h + 4);
            uint32_t stream = get_be32(cx, h + 5) & 0x7fffffffu;
            const char* name = dense_name(frame_types, type, "unknown");
            item(cx, "frames");
            item_closer close(cx);
            field(cx, "type", "  Type: %u", type);
            print_name(cx, "type", name);
            field(cx, "flags", ", Flags: 0x%02x", flags);
            print_name(cx, "flags", flag_names(type, flags).c_str());
            field(cx, "length", ", Length: %u", length);
            field(cx, "stream", ", Stream: %u\n", stream);
            if (length > m.length - at - 9) m.past_end();
            frame_body b{m, at + 9, at + 9 + length};
            frame_fields(cx, d, back, type, flags, stream, b);
            note("%s", name);
            at += 9 + size_t{length};
        }
    } catch (const malformed_message& e) {
        report_malformed(cx, e);
    }
    if (n > 1)
        summary_note(cx, "%s (+%u more)", facts.c_str(), n - 1);
    else if (!facts.empty())
        summary_note(cx, "%s", facts.c_str());
    return 0;
}

void http2_upgraded(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset,
                    bool frames_follow) {
    tcp_flow_key key, back_key;
    if (!current_flow(cx, key) || !current_flow(cx, back_key, true)) return;
    touch_h2(cx, key).framed = true;
    touch_h2(cx, back_key).framed = true;
    if (frames_follow) decode_http2(cx, lengths, frame, offset);
}
