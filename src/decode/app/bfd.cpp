#include "decode/app/bfd.h"

#include <string>

#include "decode/app/message.h"
#include "decode/decoder.h"

namespace {

constexpr const char* diagnostics[] = {
    "No Diagnostic",
    "Control Detection Time Expired",
    "Echo Function Failed",
    "Neighbor Signaled Session Down",
    "Forwarding Plane Reset",
    "Path Down",
    "Concatenated Path Down",
    "Administratively Down",
    "Reverse Concatenated Path Down",
};
constexpr const char* states[] = {"AdminDown", "Down", "Init", "Up"};
// The six flag bits, lowest first.
constexpr const char* flag_names[6] = {"Multipoint", "Demand", "Authentication present", "Control plane independent",
                                       "Final",      "Poll"};

void print_flags(decode_context& cx, unsigned flags) {
    if (!verbose()) return;
    std::string text;
    for (unsigned bit = 0; bit < 6; ++bit)
        if (flags & (1u << bit)) {
            if (!text.empty()) text += ", ";
            text += flag_names[bit];
        }
    if (!text.empty()) print_name(cx, "flags", text.c_str());
}
constexpr code_name auth_types[] = {
    {1, "Simple Password"},       {2, "Keyed MD5"}, {3, "Meticulous Keyed MD5"}, {4, "Keyed SHA1"},
    {5, "Meticulous Keyed SHA1"},
};
constexpr unsigned header_length = 24;

}  // namespace

int decode_bfd(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    layer(cx, "bfd", "- BFD Control -");
    bump(cx.counters.bfd);
    message m = payload_message(cx, frame, offset);
    try {
        uint8_t first = m.u8(0), second = m.u8(1);
        unsigned version = first >> 5, diagnostic = first & 0x1fu, state = second >> 6, flags = second & 0x3fu;
        field(cx, "version", "\n  Version: %u", version);
        field(cx, "diagnostic", ", Diagnostic: %u", diagnostic);
        print_name(cx, "diagnostic", dense_name(diagnostics, diagnostic, "unknown"));
        field(cx, "state", ", State: %u", state);
        print_name(cx, "state", states[state]);
        summary_note(cx, "%s, my discriminator 0x%08x", states[state], m.be32(4));
        bool all = expanded(false);
        if (all) {
            field(cx, "flags", "\n  Flags: 0x%02x", flags);
            print_flags(cx, flags);
            field(cx, "detect_mult", ", Detect Mult: %u", m.u8(2));
            field(cx, "length", ", Length: %u", m.u8(3));
        }
        field(cx, "my_discriminator", "\n  My Discriminator: 0x%08x", m.be32(4));
        field(cx, "your_discriminator", ", Your Discriminator: 0x%08x", m.be32(8));
        if (all) {
            field(cx, "desired_min_tx_us", "\n  Desired Min TX: %u us", m.be32(12));
            field(cx, "required_min_rx_us", ", Required Min RX: %u us", m.be32(16));
            field(cx, "required_min_echo_rx_us", ", Required Min Echo RX: %u us", m.be32(20));
        }
        zelk_printf(cx.out, "\n");
        unsigned length = m.u8(3);
        if (length < header_length || length > m.length) throw malformed_message{"length field beyond the packet"};
        // The authentication section: type, length, then key id and data.
        if ((flags & 0x04) && all) {
            if (length < header_length + 2) throw malformed_message{"authentication section missing"};
            uint8_t type = m.u8(header_length), auth_length = m.u8(header_length + 1);
            if (auth_length < 3 || header_length + auth_length > length)
                throw malformed_message{"authentication section length"};
            field(cx, "auth_type", "  Authentication: %u", type);
            print_name(cx, "auth_type", find_name(auth_types, type, "unknown"));
            field(cx, "auth_length", ", Length: %u", auth_length);
            field(cx, "auth_key_id", ", Key ID: %u\n", m.u8(header_length + 2));
        }
    } catch (const malformed_message& e) {
        report_malformed(cx, e);
    }
    return 0;
}
