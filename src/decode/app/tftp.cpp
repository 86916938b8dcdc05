#include "decode/app/tftp.h"

#include <cstring>
#include <string>

#include "decode/app/app_text.h"
#include "decode/app/message.h"
#include "decode/app/sessions.h"
#include "decode/decoder.h"

namespace {

constexpr const char* opcodes[] = {
    nullptr, "Read Request", "Write Request", "Data", "Acknowledgement", "Error", "Option Acknowledgement",
};
constexpr const char* error_codes[] = {
    "Not defined",
    "File not found",
    "Access violation",
    "Disk full or allocation exceeded",
    "Illegal operation",
    "Unknown transfer ID",
    "File already exists",
    "No such user",
    "Option negotiation failed",
};
constexpr unsigned max_options = 64;

// A NUL-terminated string at `at`; `at` moves behind the NUL.
std::string string_at(decode_context& cx, const message& m, size_t& at) {
    size_t have = captured_from(cx, m.start + at, m.length - at);
    const void* nul = memchr(m.start + at, 0, have);
    if (!nul) {
        if (have < m.length - at) m.at(at, m.length - at);  // cut by the capture
        throw malformed_message{"a string is not ended"};
    }
    size_t n = static_cast<size_t>(static_cast<const uint8_t*>(nul) - (m.start + at));
    std::string text = printable_text(cx, m.start + at, n);
    at += n + 1;
    return text;
}

void print_options(decode_context& cx, const message& m, size_t at) {
    bool all = expanded(false);
    unsigned n = 0;
    for (; at < m.length && n < max_options; ++n) {
        std::string name = string_at(cx, m, at);
        std::string value = string_at(cx, m, at);
        if (!all) continue;
        item(cx, "options");
        field(cx, "name", "  Option: %s", name);
        field(cx, "value", " = %s\n", value);
        item_end(cx);
    }
    if (!all && n) field(cx, "option_count", "  Options: %u\n", n);
}

}  // namespace

int decode_tftp(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    layer(cx, "tftp", "- TFTP -");
    bump(cx.counters.tftp);
    message m = payload_message(cx, frame, offset);
    try {
        uint16_t opcode = m.be16(0);
        field(cx, "opcode", "\n  Opcode: %u", opcode);
        print_name(cx, "opcode", dense_name(opcodes, opcode, "unknown"));
        zelk_printf(cx.out, "\n");
        size_t at = 2;
        switch (opcode) {
            case 1:
            case 2: {
                std::string file = string_at(cx, m, at);
                std::string mode = string_at(cx, m, at);
                field(cx, "file", "  File: %s", file);
                field(cx, "mode", ", Mode: %s\n", mode);
                summary_note(cx, "%s %s", opcode == 1 ? "read" : "write", file.c_str());
                // The server answers from a port of its own to the
                // requester's port: the transfer is known by the latter.
                media_key requester;
                if (cx.destination_port == 69 && endpoint_of(cx, false, requester))
                    announce_follower(cx, requester, follower::tftp);
                print_options(cx, m, at);
                break;
            }
            case 3:
                field(cx, "block", "  Block: %u", m.be16(2));
                field(cx, "data_length", ", Data: %lu bytes\n", static_cast<unsigned long>(m.length - 4));
                summary_note(cx, "data block %u, %lu bytes", m.be16(2), static_cast<unsigned long>(m.length - 4));
                break;
            case 4:
                field(cx, "block", "  Block: %u\n", m.be16(2));
                summary_note(cx, "ack block %u", m.be16(2));
                break;
            case 5: {
                uint16_t code = m.be16(2);
                at = 4;
                field(cx, "error_code", "  Error code: %u", code);
                print_name(cx, "error_code", dense_name(error_codes, code, "unknown"));
                std::string text = string_at(cx, m, at);
                field(cx, "error_message", ", Message: %s\n", text);
                summary_note(cx, "error %u %s", code, text.c_str());
                break;
            }
            case 6:
                summary_note(cx, "option acknowledgement");
                print_options(cx, m, at);
                break;
            default:
                field(cx, "unknown_length", "  Unknown data: %lu bytes\n", static_cast<unsigned long>(m.length - 2));
                break;
        }
    } catch (const malformed_message& e) {
        report_malformed(cx, e);
    }
    return 0;
}
