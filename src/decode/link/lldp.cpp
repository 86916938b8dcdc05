#include "decode/link/lldp.h"

#include <arpa/inet.h>

#include <string>

#include "decode/decoder.h"
#include "decode/ip/ipv4.h"

namespace {

// A frame holds at most 1500 bytes of TLVs, each at least two bytes long.
constexpr unsigned max_tlvs = 760;

constexpr code_name chassis_subtypes[] = {
    {1, "Chassis component"}, {2, "Interface alias"}, {3, "Port component"},   {4, "MAC address"},
    {5, "Network address"},   {6, "Interface name"},  {7, "Locally assigned"},
};

constexpr code_name port_subtypes[] = {
    {1, "Interface alias"}, {2, "Port component"},   {3, "MAC address"},      {4, "Network address"},
    {5, "Interface name"},  {6, "Agent circuit ID"}, {7, "Locally assigned"},
};

constexpr const char* capability_names[] = {
    "Other",  "Repeater", "Bridge", "WLAN access point", "Router", "Telephone", "DOCSIS cable device", "Station only",
    "C-VLAN", "S-VLAN",   "TPMR",
};

constexpr code_name ouis[] = {
    {0x0080c2, "IEEE 802.1"},
    {0x00120f, "IEEE 802.3"},
    {0x0012bb, "TIA TR-41 (LLDP-MED)"},
    {0x00ceff, "Ethernet Alliance"},
};

constexpr code_name ieee8021_subtypes[] = {
    {1, "Port VLAN ID"},        {2, "Port and protocol VLAN ID"}, {3, "VLAN name"},
    {4, "Protocol identity"},   {5, "VID usage digest"},          {6, "Management VID"},
    {7, "Link aggregation"},    {8, "Congestion notification"},   {9, "ETS configuration"},
    {10, "ETS recommendation"}, {11, "Priority flow control"},    {12, "Application priority"},
};

constexpr code_name ieee8023_subtypes[] = {
    {1, "MAC/PHY configuration/status"},
    {2, "Power via MDI"},
    {3, "Link aggregation"},
    {4, "Maximum frame size"},
    {5, "Energy-efficient Ethernet"},
    {7, "Additional Ethernet capabilities"},
};

constexpr code_name med_subtypes[] = {
    {1, "Capabilities"},
    {2, "Network policy"},
    {3, "Location identification"},
    {4, "Extended power via MDI"},
    {5, "Hardware revision"},
    {6, "Firmware revision"},
    {7, "Software revision"},
    {8, "Serial number"},
    {9, "Manufacturer name"},
    {10, "Model name"},
    {11, "Asset ID"},
};

const char* org_subtype_name(uint32_t oui, uint8_t subtype) {
    switch (oui) {
        case 0x0080c2: return find_name(ieee8021_subtypes, subtype, "unknown");
        case 0x00120f: return find_name(ieee8023_subtypes, subtype, "unknown");
        case 0x0012bb: return find_name(med_subtypes, subtype, "unknown");
        default: return "unknown";
    }
}

// Counted text, printed by the character rule and recorded as it is.
void text_value(decode_context& cx, const char* key, const uint8_t* p, size_t n) {
    need(cx, p, n);
    print_text_bytes(cx, p, n);
    record_text(cx, key, reinterpret_cast<const char*>(p), n);
}

// An address of an IANA family (1 IPv4, 2 IPv6, 6 802 MAC); other
// families and odd lengths are shown as hex.
std::string address_text(decode_context& cx, uint8_t family, const uint8_t* p, size_t n) {
    need(cx, p, n);
    char text[INET6_ADDRSTRLEN] = "";
    if (family == 1 && n == 4) return ipv4_text(cx, p).c_str();
    if (family == 2 && n == 16) return inet_ntop(AF_INET6, p, text, sizeof text);
    if (family == 6 && n == 6) return zelk_mac_to_text(p);
    std::string hex;
    for (size_t i = 0; i < n; ++i) {
        snprintf(text, sizeof text, "%02x", p[i]);
        hex += text;
    }
    return hex;
}

// Chassis and port ids: MAC and network addresses as addresses, the
// textual subtypes as text, the rest as hex.
std::string id_value(decode_context& cx, const char* key, bool is_port, uint8_t subtype, const uint8_t* p, size_t n) {
    bool mac = subtype == (is_port ? 3 : 4);
    bool network = subtype == (is_port ? 4 : 5);
    bool textual = is_port ? subtype != 6 : true;
    std::string value;
    if (mac && n == 6)
        value = zelk_mac_to_text(p);
    else if (network && n >= 1)
        value = address_text(cx, get_u8(cx, p), p + 1, n - 1);
    else if (textual && !mac && !network) {
        text_value(cx, key, p, n);
        need(cx, p, n);
        return std::string(reinterpret_cast<const char*>(p), n);
    } else
        value = address_text(cx, 0, p, n);
    field(cx, key, "%s", value.c_str());
    return value;
}

void print_capabilities(decode_context& cx, const char* key, uint16_t bits) {
    if (!verbose()) return;
    std::string names;
    for (unsigned bit = 0; bit < 16; ++bit)
        if (bits & (1u << bit)) {
            if (!names.empty()) names += ", ";
            names += dense_name(capability_names, bit, "reserved");
        }
    if (!names.empty()) print_name(cx, key, names.c_str());
}

void management_address(decode_context& cx, const uint8_t* v, unsigned length) {
    item(cx, "management_addresses");
    unsigned address_length = get_u8(cx, v);
    if (address_length < 1 || 1 + address_length + 6 > length) {
        zelk_printf(cx.out, "\n  Management Address: (malformed, %u bytes)", length);
        record_text(cx, "error", "malformed management address");
        item_end(cx);
        return;
    }
    uint8_t family = get_u8(cx, v + 1);
    std::string address = address_text(cx, family, v + 2, address_length - 1);
    field(cx, "address", "\n  Management Address: %s", address.c_str());
    field(cx, "family", ", Family: %u", family);
    const uint8_t* rest = v + 1 + address_length;
    field(cx, "interface_subtype", ", Interface Subtype: %u", get_u8(cx, rest));
    field(cx, "interface", ", Interface: %u", get_be32(cx, rest + 1));
    unsigned oid_length = get_u8(cx, rest + 5);
    field(cx, "oid_length", ", OID Length: %u", oid_length);
    item_end(cx);
}

void organisation_tlv(decode_context& cx, const uint8_t* v, unsigned length, bool show) {
    if (length < 4) {
        if (show) zelk_printf(cx.out, "\n  Organisation TLV: (malformed, %u bytes)", length);
        record_text(cx, "error", "organisation TLV shorter than 4 bytes");
        return;
    }
    need(cx, v, 4);
    uint32_t oui = (uint32_t{v[0]} << 16) | (uint32_t{v[1]} << 8) | v[2];
    uint8_t subtype = v[3];
    const uint8_t* info = v + 4;
    unsigned info_length = length - 4;
    if (!show) return;
    item(cx, "organisation_tlvs");
    field(cx, "oui", "\n  Organisation TLV: OUI 0x%06x", oui);
    print_name(cx, "oui", find_name(ouis, oui, "unknown"));
    field(cx, "subtype", ", Subtype: %u", subtype);
    print_name(cx, "subtype", org_subtype_name(oui, subtype));
    field(cx, "length", ", Length: %u", length);
    // The values people look for; the rest is named by number and length.
    if (oui == 0x0080c2 && subtype == 1 && info_length >= 2)
        field(cx, "port_vlan_id", "\n    Port VLAN ID: %u", get_be16(cx, info));
    else if (oui == 0x0080c2 && subtype == 3 && info_length >= 3) {
        field(cx, "vlan_id", "\n    VLAN ID: %u", get_be16(cx, info));
        unsigned name_length = get_u8(cx, info + 2);
        if (3 + name_length <= info_length) {
            zelk_printf(cx.out, ", Name: ");
            text_value(cx, "vlan_name", info + 3, name_length);
        }
    } else if (oui == 0x00120f && subtype == 1 && info_length >= 5) {
        field(cx, "autonegotiation", "\n    Auto-negotiation: 0x%02x", get_u8(cx, info));
        field(cx, "pmd_capability", ", PMD Capability: 0x%04x", get_be16(cx, info + 1));
        field(cx, "mau_type", ", MAU Type: %u", get_be16(cx, info + 3));
    } else if (oui == 0x00120f && subtype == 4 && info_length >= 2)
        field(cx, "max_frame_size", "\n    Maximum Frame Size: %u", get_be16(cx, info));
    else if ((oui == 0x00120f && subtype == 3 && info_length >= 5) ||
             (oui == 0x0080c2 && subtype == 7 && info_length >= 5)) {
        field(cx, "aggregation_status", "\n    Aggregation Status: 0x%02x", get_u8(cx, info));
        field(cx, "aggregated_port", ", Port ID: %u", get_be32(cx, info + 1));
    } else if (oui == 0x0012bb && subtype >= 5 && subtype <= 11) {
        zelk_printf(cx.out, "\n    Value: ");
        text_value(cx, "value", info, info_length);
    }
    item_end(cx);
}

}  // namespace

int decode_lldp(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    const uint8_t* p = header_at(cx, frame, offset);
    layer(cx, "lldp", "\n- LLDP -");
    bool show = expanded(settings.expand_all);
    bump(cx.counters.lldp);
    std::string chassis, port;
    bool ended = false;
    for (unsigned count = 0; count < max_tlvs && !ended; ++count) {
        if (captured_from(cx, p, 2) < 2) break;  // no End TLV: the frame ends here
        uint16_t word = get_be16(cx, p);
        unsigned type = word >> 9, length = word & 0x01ff;
        const uint8_t* v = p + 2;
        if (captured_from(cx, v, length) < length) {
            zelk_printf(cx.out, "\n  TLV %u: Length %u runs past the frame", type, length);
            record_text(cx, "error", "TLV runs past the frame");
            need(cx, v, length);
        }
        switch (type) {
            case 0:
                if (show) zelk_printf(cx.out, "\n  End");
                ended = true;
                break;
            case 1:
            case 2: {
                bool is_port = type == 2;
                if (length < 2) {
                    zelk_printf(cx.out, is_port ? "\n  Port ID: (malformed)" : "\n  Chassis ID: (malformed)");
                    record_text(cx, "error", "ID TLV shorter than 2 bytes");
                    break;
                }
                uint8_t subtype = v[0];
                zelk_printf(cx.out, is_port ? "\n  Port ID: " : "\n  Chassis ID: ");
                std::string value =
                    id_value(cx, is_port ? "port_id" : "chassis_id", is_port, subtype, v + 1, length - 1);
                (is_port ? port : chassis) = value;
                if (show) {
                    if (is_port) {
                        field(cx, "port_id_subtype", ", Subtype: %u", subtype);
                        print_name(cx, "port_id_subtype", find_name(port_subtypes, subtype, "reserved"));
                    } else {
                        field(cx, "chassis_id_subtype", ", Subtype: %u", subtype);
                        print_name(cx, "chassis_id_subtype", find_name(chassis_subtypes, subtype, "reserved"));
                    }
                }
                break;
            }
            case 3:
                if (length >= 2)
                    field(cx, "ttl", "\n  TTL: %u", get_be16(cx, v));
                else {
                    zelk_printf(cx.out, "\n  TTL: (malformed)");
                    record_text(cx, "error", "TTL TLV shorter than 2 bytes");
                }
                break;
            case 4:
            case 5:
            case 6: {
                static constexpr const char* labels[] = {
                    "\n  Port Description: ", "\n  System Name: ", "\n  System Description: "};
                static constexpr const char* keys[] = {"port_description", "system_name", "system_description"};
                // The system name is short and telling; the others wait for --expand-all.
                if (show || type == 5) {
                    zelk_printf(cx.out, "%s", labels[type - 4]);
                    text_value(cx, keys[type - 4], v, length);
                }
                break;
            }
            case 7:
                if (!show) break;
                if (length >= 4) {
                    uint16_t available = get_be16(cx, v), enabled = get_be16(cx, v + 2);
                    field(cx, "capabilities", "\n  Capabilities: 0x%04x", available);
                    print_capabilities(cx, "capabilities", available);
                    field(cx, "capabilities_enabled", ", Enabled: 0x%04x", enabled);
                    print_capabilities(cx, "capabilities_enabled", enabled);
                } else {
                    zelk_printf(cx.out, "\n  Capabilities: (malformed)");
                    record_text(cx, "error", "capabilities TLV shorter than 4 bytes");
                }
                break;
            case 8:
                if (show) management_address(cx, v, length);
                break;
            case 127: organisation_tlv(cx, v, length, show); break;
            default:
                if (!show) break;
                item(cx, "unknown_tlvs");
                field(cx, "type", "\n  TLV: %u", type);
                field(cx, "length", ", Length: %u", length);
                item_end(cx);
                break;
        }
        p = v + length;
    }
    zelk_printf(cx.out, "\n");
    summary_note(cx, "chassis %s port %s", chassis.c_str(), port.c_str());
    return 0;
}
