#include "decode/link/stp.h"

#include <string>

#include "decode/decoder.h"

namespace {

constexpr unsigned config_length = 35;      // through the forward delay
constexpr unsigned mst_fixed_length = 102;  // through the CIST remaining hops
constexpr unsigned msti_length = 16;

constexpr const char* versions[] = {"STP", nullptr, "RSTP", "MSTP", "SPB"};
constexpr code_name bpdu_types[] = {{0x00, "Configuration"}, {0x80, "Topology Change Notification"}, {0x02, "RST/MST"}};
constexpr const char* port_roles[] = {"Master", "Alternate/Backup", "Root", "Designated"};

// Flags by name: topology change, proposal, role, learning, forwarding,
// agreement, topology change acknowledgement. Plain STP uses only the
// two topology change bits.
std::string flag_names(uint8_t flags, bool rapid) {
    std::string names;
    auto add = [&names](const char* name) {
        if (!names.empty()) names += ", ";
        names += name;
    };
    if (flags & 0x01) add("Topology Change");
    if (rapid) {
        if (flags & 0x02) add("Proposal");
        add(port_roles[(flags >> 2) & 3]);
        if (flags & 0x10) add("Learning");
        if (flags & 0x20) add("Forwarding");
        if (flags & 0x40) add("Agreement");
    }
    if (flags & 0x80) add("Topology Change Ack");
    return names;
}

void print_flags(decode_context& cx, const char* key, const char* format_label, uint8_t flags, bool rapid) {
    zelk_printf(cx.out, "%s", format_label);
    field(cx, key, "0x%02x", flags);
    if (verbose()) {
        std::string names = flag_names(flags, rapid);
        if (!names.empty()) print_name(cx, key, names.c_str());
    }
}

// A bridge id: 4-bit priority (in steps of 4096), 12-bit system id
// extension, MAC address; shown as priority/extension/MAC.
void bridge_id(decode_context& cx, const char* priority_key, const char* extension_key, const char* mac_key,
               const uint8_t* p) {
    need(cx, p, 8);
    uint16_t word = get_be16(cx, p);
    field(cx, priority_key, "%u", word & 0xf000);
    field(cx, extension_key, "/%u", word & 0x0fff);
    field(cx, mac_key, "/%s", zelk_mac_to_text(p + 2));
}

// Timers travel in units of 1/256 second.
void timer(decode_context& cx, const char* key, const char* format_label, const uint8_t* p) {
    uint16_t t = get_be16(cx, p);
    zelk_printf(cx.out, "%s", format_label);
    if (t % 256 == 0 || recording())
        field(cx, key, "%u", t / 256);
    else
        zelk_printf(cx.out, "%u+%u/256", t / 256u, t % 256u);
}

void msti_records(decode_context& cx, const uint8_t* p, unsigned count) {
    for (unsigned i = 0; i < count; ++i, p += msti_length) {
        need(cx, p, msti_length);
        item(cx, "msti");
        uint16_t word = get_be16(cx, p + 1);
        field(cx, "msti_id", "\n  MSTI %u:", word & 0x0fff);
        print_flags(cx, "flags", " Flags: ", p[0], true);
        zelk_printf(cx.out, ", Regional Root: ");
        bridge_id(cx, "regional_root_priority", "regional_root_system_id", "regional_root_mac", p + 1);
        field(cx, "internal_root_path_cost", ", Path Cost: %u", get_be32(cx, p + 9));
        field(cx, "bridge_priority", "\n    Bridge Priority: %u", (p[13] >> 4) * 4096u);
        field(cx, "port_priority", ", Port Priority: %u", (p[14] >> 4) * 16u);
        field(cx, "remaining_hops", ", Remaining Hops: %u", p[15]);
        item_end(cx);
    }
}

}  // namespace

int decode_stp(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    bump(cx.counters.stp);
    // The plain text of a frame that ends behind its LLC header stays as it
    // always was; the BPDU is shown under --expand-all and recorded.
    if (!settings.expand_all && !recording()) return 0;
    layer(cx, "stp", "- STP BPDU -");
    need(cx, h, 4);
    uint16_t protocol = get_be16(cx, h);
    uint8_t version = h[2], type = h[3];
    field(cx, "protocol", "\n  Protocol ID: 0x%04x", protocol);
    field(cx, "version", "\n  Protocol Version: %u", version);
    print_name(cx, "version", dense_name(versions, version, "unknown"));
    field(cx, "type", ", BPDU Type: 0x%02x", type);
    print_name(cx, "type", find_name(bpdu_types, type, "unknown"));
    if (protocol != 0) {
        zelk_printf(cx.out, "\n  (not a spanning tree BPDU)\n");
        record_text(cx, "error", "protocol id is not 0");
        return 0;
    }
    if (type == 0x80) {
        zelk_printf(cx.out, "\n");
        summary_note(cx, "topology change notification");
        return 0;
    }
    if (type != 0x00 && type != 0x02) {
        zelk_printf(cx.out, "\n  (unknown BPDU type, %u bytes)\n", static_cast<unsigned>(captured_rest(cx, h + 4)));
        return 0;
    }
    need(cx, h, config_length);
    bool rapid = type == 0x02;
    print_flags(cx, "flags", "\n  Flags: ", h[4], rapid);
    zelk_printf(cx.out, "\n  Root ID: ");
    bridge_id(cx, "root_priority", "root_system_id", "root_mac", h + 5);
    field(cx, "root_path_cost", ", Root Path Cost: %u", get_be32(cx, h + 13));
    zelk_printf(cx.out, "\n  Bridge ID: ");
    bridge_id(cx, "bridge_priority", "bridge_system_id", "bridge_mac", h + 17);
    field(cx, "port_id", ", Port ID: 0x%04x", get_be16(cx, h + 25));
    timer(cx, "message_age", "\n  Message Age: ", h + 27);
    timer(cx, "max_age", ", Max Age: ", h + 29);
    timer(cx, "hello_time", ", Hello Time: ", h + 31);
    timer(cx, "forward_delay", ", Forward Delay: ", h + 33);
    {
        uint16_t root = get_be16(cx, h + 5);
        summary_note(cx, "root %u/%u/%s", root & 0xf000u, root & 0x0fffu, zelk_mac_to_text(h + 7));
    }
    if (rapid && version >= 3 && captured_from(cx, h + 36, 2) == 2) {
        // MSTP: the version 3 length counts the MST part behind byte 36.
        unsigned v3_length = get_be16(cx, h + 36);
        need(cx, h, mst_fixed_length);
        field(cx, "mst_config_format", "\n  MST Config ID Format: %u", h[38]);
        zelk_printf(cx.out, ", Name: ");
        size_t name_length = 0;
        while (name_length < 32 && h[39 + name_length]) ++name_length;
        print_text_bytes(cx, h + 39, name_length);
        record_text(cx, "mst_config_name", reinterpret_cast<const char*>(h + 39), name_length);
        field(cx, "mst_config_revision", ", Revision: %u", get_be16(cx, h + 71));
        zelk_printf(cx.out, "\n  MST Config Digest: ");
        for (int i = 0; i < 16; ++i) zelk_printf(cx.out, "%02x", h[73 + i]);
        record_hex(cx, "mst_config_digest", h + 73, 16);
        field(cx, "cist_internal_root_path_cost", "\n  CIST Internal Root Path Cost: %u", get_be32(cx, h + 89));
        zelk_printf(cx.out, ", CIST Bridge ID: ");
        bridge_id(cx, "cist_bridge_priority", "cist_bridge_system_id", "cist_bridge_mac", h + 93);
        field(cx, "cist_remaining_hops", ", Remaining Hops: %u", h[101]);
        unsigned records = v3_length >= 64 ? (v3_length - 64) / msti_length : 0;
        if (records > 64) records = 64;  // the standard allows at most 64 instances
        msti_records(cx, h + mst_fixed_length, records);
    }
    zelk_printf(cx.out, "\n");
    return 0;
}
