#include "decode/link/slow_protocols.h"

#include <string>

#include "decode/decoder.h"

namespace {

constexpr unsigned max_tlvs = 16;  // a PDU holds four; more is garbage

constexpr code_name subtypes[] = {{1, "LACP"}, {2, "Marker"}, {3, "OAM"}, {10, "OSSP"}};

constexpr const char* state_bits[] = {"Activity",   "Timeout",      "Aggregation", "Synchronization",
                                      "Collecting", "Distributing", "Defaulted",   "Expired"};

// The keys of one side's information, so that actor and partner share the code.
struct side_keys {
    const char* label;
    const char* system_priority;
    const char* system;
    const char* key;
    const char* port_priority;
    const char* port;
    const char* state;
};
constexpr side_keys actor = {
    "Actor", "actor_system_priority", "actor_system", "actor_key", "actor_port_priority", "actor_port", "actor_state"};
constexpr side_keys partner = {"Partner",      "partner_system_priority", "partner_system",
                               "partner_key",  "partner_port_priority",   "partner_port",
                               "partner_state"};

void print_state(decode_context& cx, const char* key, uint8_t state) {
    if (!verbose()) return;
    std::string names;
    for (unsigned bit = 0; bit < 8; ++bit)
        if (state & (1u << bit)) {
            if (!names.empty()) names += ", ";
            names += state_bits[bit];
        }
    if (!names.empty()) print_name(cx, key, names.c_str());
}

// Actor or partner information: system priority and MAC, key, port
// priority and number, state.
void side_information(decode_context& cx, const side_keys& k, const uint8_t* v, bool show) {
    need(cx, v, 15);
    zelk_printf(cx.out, "\n  %s System: ", k.label);
    field(cx, k.system, "%s", zelk_mac_to_text(v + 2));
    if (show) field(cx, k.system_priority, ", Priority: %u", get_be16(cx, v));
    field(cx, k.key, ", Key: %u", get_be16(cx, v + 8));
    field(cx, k.port, ", Port: %u", get_be16(cx, v + 12));
    if (show) field(cx, k.port_priority, ", Port Priority: %u", get_be16(cx, v + 10));
    zelk_printf(cx.out, "\n  %s State: ", k.label);
    field(cx, k.state, "0x%02x", v[14]);
    print_state(cx, k.state, v[14]);
}

void lacp(decode_context& cx, const uint8_t* h, bool show) {
    layer(cx, "lacp", "\n- LACP -");
    bump(cx.counters.lacp);
    uint8_t version = get_u8(cx, h + 1);
    if (show) field(cx, "version", "\n  Version: %u", version);
    const uint8_t* p = h + 2;
    bool have_actor = false;
    uint16_t actor_key = 0;
    uint8_t actor_state = 0;
    for (unsigned count = 0; count < max_tlvs; ++count) {
        if (captured_from(cx, p, 2) < 2) break;
        uint8_t type = p[0], length = p[1];
        if (type == 0 || length < 2) break;  // terminator (or a length that cannot advance)
        const uint8_t* v = p + 2;
        if ((type == 1 || type == 2) && length >= 20) {
            side_information(cx, type == 1 ? actor : partner, v, show);
            if (type == 1) {
                have_actor = true;
                actor_key = get_be16(cx, v + 8);
                actor_state = v[14];
            }
        } else if (type == 3 && length >= 4) {
            if (show) field(cx, "collector_max_delay", "\n  Collector Max Delay: %u", get_be16(cx, v));
        } else if (show) {
            item(cx, "unknown_tlvs");
            field(cx, "type", "\n  TLV: %u", type);
            field(cx, "length", ", Length: %u", length);
            item_end(cx);
        }
        p += length;
    }
    zelk_printf(cx.out, "\n");
    if (have_actor) summary_note(cx, "actor key %u state 0x%02x", actor_key, actor_state);
}

void marker(decode_context& cx, const uint8_t* h, bool show) {
    layer(cx, "lacp_marker", "\n- LACP Marker -");
    bump(cx.counters.lacp);
    if (show) field(cx, "version", "\n  Version: %u", get_u8(cx, h + 1));
    const uint8_t* p = h + 2;
    need(cx, p, 2);
    uint8_t type = p[0], length = p[1];
    field(cx, "type", "\n  Type: %u", type);
    print_name(cx, "type", type == 1 ? "Marker Information" : type == 2 ? "Marker Response" : "unknown");
    if ((type == 1 || type == 2) && length >= 16) {
        const uint8_t* v = p + 2;
        need(cx, v, 12);
        field(cx, "requester_port", "\n  Requester Port: %u", get_be16(cx, v));
        field(cx, "requester_system", ", System: %s", zelk_mac_to_text(v + 2));
        field(cx, "transaction_id", ", Transaction ID: %u", get_be32(cx, v + 8));
        summary_note(cx, "%s port %u", type == 1 ? "marker" : "marker response", get_be16(cx, v));
    } else if (show)
        field(cx, "length", ", Length: %u", length);
    zelk_printf(cx.out, "\n");
}

}  // namespace

int decode_slow_protocols(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    bool show = expanded(settings.expand_all);
    uint8_t subtype = get_u8(cx, h);
    if (subtype == 1) {
        lacp(cx, h, show);
        return 0;
    }
    if (subtype == 2) {
        marker(cx, h, show);
        return 0;
    }
    layer(cx, "slow_protocol", "\n- Slow Protocol -");
    field(cx, "subtype", "\n  Subtype: %u", subtype);
    print_name(cx, "subtype", find_name(subtypes, subtype, "unknown"));
    field(cx, "length", ", Length: %u\n", static_cast<unsigned>(captured_rest(cx, h)));
    return 0;
}
