#include "decode/app/ssh.h"

#include <cstring>
#include <string>

#include "decode/app/app_text.h"
#include "decode/decoder.h"

namespace {

const char* message_name(uint8_t code) {
    static constexpr code_name names[] = {
        {1, "DISCONNECT"},      {2, "IGNORE"},         {3, "UNIMPLEMENTED"},   {4, "DEBUG"},
        {5, "SERVICE_REQUEST"}, {6, "SERVICE_ACCEPT"}, {7, "EXT_INFO"},        {20, "KEXINIT"},
        {21, "NEWKEYS"},        {30, "KEX_ECDH_INIT"}, {31, "KEX_ECDH_REPLY"},
    };
    return find_name(names, code, "unknown");
}

}  // namespace

int decode_ssh(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    const uint8_t* p = header_at(cx, frame, offset);
    size_t length = ip_message_length(cx, p);
    layer(cx, "ssh", "- SSH -");
    bump(cx.counters.ssh);
    if (length >= 4 && !memcmp(p, "SSH-", 4)) {
        const uint8_t* lf = static_cast<const uint8_t*>(memchr(p, '\n', length));
        size_t line = lf ? static_cast<size_t>(lf - p) : length;
        if (line && p[line - 1] == '\r') --line;
        std::string text = printable_text(cx, p, line);
        field(cx, "version_line", "\n  Version: %s\n", text.c_str());
        summary_note(cx, "%s", text.c_str());
        return 0;
    }
    // Before the keys are taken into use a packet is in the clear: its
    // length, padding length and message code. After, all is encrypted;
    // a clear packet is recognised by a length that fits the segment and a
    // known message code.
    if (length >= 6) {
        uint32_t packet_length = get_be32(cx, p);
        uint8_t padding = get_u8(cx, p + 4);
        uint8_t code = get_u8(cx, p + 5);
        if (uint64_t{packet_length} + 4 <= length && packet_length >= 8 && padding >= 4 && padding < packet_length &&
            strcmp(message_name(code), "unknown")) {
            field(cx, "packet_length", "\n  Packet Length: %u", packet_length);
            field(cx, "padding_length", ", Padding: %u", padding);
            field(cx, "message", "\n  Message: %u", code);
            print_name(cx, "message", message_name(code));
            zelk_printf(cx.out, "\n");
            summary_note(cx, "%s", message_name(code));
            return 0;
        }
    }
    field(cx, "encrypted_length", "\n  Encrypted Packet, Length: %lu\n", static_cast<long>(length));
    summary_note(cx, "Encrypted packet, len %zu", length);
    return 0;
}
