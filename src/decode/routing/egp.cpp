#include "decode/routing/egp.h"

#include "decode/decoder.h"
#include "decode/ip/ipv4.h"
#include "decode/routing/routing.h"

namespace {

enum egp_type : uint8_t { update = 1, poll = 2, acquire = 3, reach = 5, error = 8 };

constexpr code_name type_names[] = {
    {update, "Update"}, {poll, "Poll"}, {acquire, "Acquire"}, {reach, "Reach"}, {error, "Error"},
};

constexpr const char* acquire_codes[] = {"Request", "Confirm", "Refuse", "Cease", "Cease Ack"};
constexpr const char* reach_codes[] = {"Hello", "I-H-U"};

constexpr const char* confirm_status[] = {"Unspecified", "Active", "Passive"};
constexpr code_name cease_ack_status[] = {
    {0, "Unspecified"}, {3, "Insufficient Resources"}, {4, "Administratively prohibited"},
    {5, "Going down"},  {6, "Parameter Problem"},      {7, "Protocol Violation"},
};
constexpr code_name reach_status[] = {{1, "Up"}, {2, "Down"}};
constexpr code_name update_status[] = {{1, "Up"}, {2, "Down"}, {128, "Unsolicited"}};

// The code and status names depend on the type (and the status on the
// code); nullptr means the combination has no names.
const char* code_name_of(uint8_t type, uint8_t code) {
    if (type == acquire) return dense_name(acquire_codes, code, "Unkown");
    if (type == reach) return dense_name(reach_codes, code, "Unkown");
    return nullptr;
}

const char* status_name_of(uint8_t type, uint8_t code, uint8_t status) {
    if (type == acquire && code == 1) return dense_name(confirm_status, status, "Unkown");
    if (type == acquire && code == 4) return find_name(cease_ack_status, status, "Unknown");
    if (type == reach && code <= 1) return find_name(reach_status, status, "Unknown");
    if (type == update || type == poll || type == error) return find_name(update_status, status, "Unknown");
    return nullptr;
}

void print_optional_name(decode_context& cx, const char* key, const char* name) {
    if (name) print_name(cx, key, name);
}

}  // namespace

int decode_egp(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    uint8_t version = get_u8(cx, h);
    layer(cx, "egp", "- EGP Header -");
    field(cx, "version", "\n  Version: %d\n", version);
    uint8_t type = get_u8(cx, h + 1), code = get_u8(cx, h + 2), status = get_u8(cx, h + 3);
    uint16_t checksum = get_be16(cx, h + 4);
    if (verbose()) {
        field(cx, "type", "  Type: %d", type);
        print_name(cx, "type", find_name(type_names, type, "Unknown"));
        field(cx, "code", "\n  Code: %d", code);
        print_optional_name(cx, "code", code_name_of(type, code));
        field(cx, "status", "\n  Status: %d", status);
        print_optional_name(cx, "status", status_name_of(type, code, status));
        field(cx, "checksum", "\n  Checksum: 0x%04x", checksum);
    } else {
        field(cx, "type", "  Type: %d", type);
        field(cx, "code", ", Code: %d\n", code);
        field(cx, "status", "  Status: %d", status);
        field(cx, "checksum", ", Checksum: 0x%04x", checksum);
    }
    print_message_checksum_verdict(cx, h, 4, cx.counters.egp_bad);
    uint16_t autonomous_system = get_be16(cx, h + 6), sequence = get_be16(cx, h + 8);
    field(cx, "autonomous_system", "\n  Autonomus System: %d", autonomous_system);
    field(cx, "seq", ", Sequence: %d\n", sequence);
    switch (type) {
        case acquire: {
            uint16_t hello = get_be16(cx, h + 12), poll_interval = get_be16(cx, h + 14);
            field(cx, "hello_interval", "  Hello Interval: %u", hello);
            field(cx, "poll_interval", ", Poll Interval: %u\n", poll_interval);
            break;
        }
        case error: field(cx, "reason", "  Reason: %u\n", get_be16(cx, h + 12)); break;
        case poll: {
            uint16_t reserved = get_be16(cx, h + 12);
            auto network = ipv4_text(cx, h + 16);
            field(cx, "reserved", "  Reserved: %u", reserved);
            field(cx, "source_network", ", IP Source Network: %s\n", network);
            break;
        }
        default: break;
    }
    bump(cx.counters.egp);
    return 0;
}
