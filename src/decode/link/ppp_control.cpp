#include "decode/link/ppp_control.h"

#include <cstdio>
#include <iterator>

#include "decode/decoder.h"
#include "decode/ip/ipv4.h"

namespace {

// Codes of the link control protocol; the network control protocols use
// the first eight.
constexpr const char* lcp_codes[] = {
    "Vendor Specific",     "Configuration-Request", "Configuration-Ack", "Configuration-Nak", "Configuration-Reject",
    "Termination-Request", "Termination-Reply",     "Code-Reject",       "Protocol-Reject",   "Echo-Request",
    "Echo-Reply",          "Discard-Request",       "Identification",    "Time-Remaining",
};
constexpr const char* ncp_codes[] = {
    "Vendor Specific",      "Configuration-Request", "Configuration-Ack", "Configuration-Nak",
    "Configuration-Reject", "Termination-Request",   "Termination-Reply", "Code-Reject",
};
// Encryption and compression control add the reset exchange.
constexpr const char* reset_codes[] = {
    "Vendor Specific",
    "Configuration-Request",
    "Configuration-Ack",
    "Configuration-Nak",
    "Configuration-Reject",
    "Termination-Request",
    "Termination-Reply",
    "Code-Reject",
    "Unknown",
    "Unknown",
    "Unknown",
    "Unknown",
    "Unknown",
    "Unknown",
    "Reset-Request",
    "Reset-Reply",
};
constexpr const char* unknown_code = "Unknown";

constexpr const char* lcp_options[] = {
    "Reserved",
    "Maximum-Receive-Unit",
    "Async-Control-Character-Map",
    "Authentication-Protocol",
    "Quality-Protocol",
    "Magic-Number",
    "Reserved",
    "Protocol-Field-Compression",
    "Address-and-Control-Field-Compression",
    "FCS-Alternatives",
    "Self-Describing-Pad",
    "Numbered-Mode",
    "Multi-Link-Procedure",
    "Callback",
    "Connect-Time",
    "Compound-Frames",
    "Nominal-Data-Encapsulation",
    "Multilink-MRRU",
    "Multilink-Short-Sequence-Number-Header-Format",
    "Multilink-Endpoint-Discriminator",
    "Proprietary",
    "DCE-Identifier",
    "MP+ Procedure",
    "Link Discriminator for BACP",
    "LCP-Authentication",
    "COBS",
    "variable Prefix Elision",
    "Multilink header format",
    "Internationalization",
    "Simple Data Link on SONET/SDH",
    "Unknown",
};

constexpr code_name ipcp_options[] = {
    {1, "IP Addresses"},
    {2, "IP-Compression-Protocol"},
    {3, "IP Address"},
    {4, "Mobile-IPv4"},
    {129, "Primary DNS Server Address"},
    {130, "Primary NBNS Server Address"},
    {131, "Secondary DNS Server Address"},
    {132, "Secondary NBNS Server Address"},
};
constexpr code_name ipv6cp_options[] = {{1, "Interface-Identifier"}, {2, "IPv6-Compression-Protocol"}};
constexpr code_name ipxcp_options[] = {
    {1, "IPX-Network-Number"},   {2, "IPX-Node-Number"}, {3, "IPX-Compression-Protocol"},
    {4, "IPX-Routing-Protocol"}, {5, "IPX-Router-Name"}, {6, "IPX-Configuration-Complete"},
};
constexpr code_name atcp_options[] = {
    {1, "AppleTalk Address"},  {2, "Routing protocol"},
    {3, "Suppress Broadcast"}, {4, "AppleTalk Compression Protocol"},
    {5, "Reserved"},           {6, "Server Information"},
    {7, "Zone Information"},   {8, "Default Router Address"},
};
constexpr code_name ecp_options[] = {{0, "OUI"}, {1, "DES"}, {2, "Triple-DES"}, {3, "DES Data"}};
constexpr code_name ccp_options[] = {
    {0, "OUI"},
    {1, "Predictor type 1"},
    {2, "Predictor type 2"},
    {3, "Puddle Jumper"},
    {16, "Hewlett-Packard PPC"},
    {17, "PPP Stac LZS compression Protocol"},
    {18, "Microsoft Point-To-Point Comp. Protocol"},
    {19, "PPP Gandalf FZA compression Protocol"},
    {20, "V.42bis compression"},
    {21, "BSD compression Protocol"},
    {23, "PPP LZS-DCP compression Protocol"},
    {24, "PPP Magnalink Variable Resource compression Algorithm"},
    {25, "PPP for Data Compression in Data Circuit-Terminating Equipment"},
    {26, "PPP Deflate Protocol"},
    {27, "V.44/LZJH compression Protocol"},
};
constexpr const char* unknown_option = "unkown";

constexpr const char* atcp_routing_protocols[] = {"None", "RTMP", "AURP", "AGBP"};

constexpr code_name pap_codes[] = {{1, "Authenticate-Request"}, {2, "Authenticate-Ack"}, {3, "Authenticate-Nak"}};
constexpr code_name chap_codes[] = {{1, "Challenge"}, {2, "Response"}, {3, "Success"}, {4, "Failure"}};

// Code, identifier and length of a control packet.
struct control_header {
    const uint8_t* packet;
    uint8_t code;
    uint16_t length;
};

using namer = const char* (*)(uint8_t);

// Prints the banner with the code and the identifier/length line.
control_header print_control_header(decode_context& cx, const uint8_t* k, const char* proto, const char* label,
                                    namer code_name_of) {
    layer(cx, proto, "");
    zelk_printf(cx.out, "\n  - %s Header -", label);
    control_header h{k, get_u8(cx, k), 0};
    field(cx, "code", "\n    Code: %d", h.code);
    print_name(cx, "code", code_name_of(h.code));
    summary_note(cx, "%s", code_name_of(h.code));
    h.length = get_be16(cx, k + 2);
    field(cx, "identifier", "\n    Identifier: %d", get_u8(cx, k + 1));
    field(cx, "length", ", Length: %d\n", h.length);
    return h;
}

const char* lcp_code_name(uint8_t code) { return dense_name(lcp_codes, code, unknown_code); }
const char* ncp_code_name(uint8_t code) { return dense_name(ncp_codes, code, unknown_code); }
const char* reset_code_name(uint8_t code) { return dense_name(reset_codes, code, unknown_code); }

bool is_configuration_code(uint8_t code) { return code >= 1 && code <= 4; }

// The first option of a configuration packet; only it is shown. A packet
// whose length leaves no room for an option header shows none.
const uint8_t* print_first_option(decode_context& cx, const control_header& h, namer option_name) {
    if (h.length < 6) return nullptr;
    const uint8_t* option = h.packet + 4;
    uint8_t type = get_u8(cx, option);
    zelk_printf(cx.out, "    - Configuration Header -\n");
    field(cx, "option_type", "      Type: %d", type);
    print_name(cx, "option_type", option_name(type));
    field(cx, "option_length", "\n      Length: %d\n", get_u8(cx, option + 1));
    return option;
}

// Prints up to n bytes of a counted string by the character rule, never
// past the end of the packet.
void print_counted(decode_context& cx, const char* key, const uint8_t* p, long n, const uint8_t* packet_end) {
    long room = packet_end - p;
    if (n > room) n = room;
    if (n <= 0) return;
    if (recording()) {
        need(cx, p, static_cast<size_t>(n));
        record_text(cx, key, reinterpret_cast<const char*>(p), static_cast<size_t>(n));
    } else {
        print_text_bytes(cx, p, static_cast<size_t>(n));
    }
}

// A length byte of a counted string; none lies beyond the packet.
uint8_t counted_length(decode_context& cx, const uint8_t* p, const uint8_t* packet_end) {
    return p < packet_end ? get_u8(cx, p) : 0;
}

void print_hex_bytes(decode_context& cx, const char* key, const uint8_t* p, int n) {
    need(cx, p, static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) zelk_printf(cx.out, "%02x", p[i]);
    if (n == 4) record_number(cx, key, get_be32(cx, p));
}

// A configuration-only network control protocol.
int decode_simple_control(decode_context& cx, const uint8_t* frame, unsigned offset, const char* proto,
                          const char* label, namer option_name, uint32_t& counter) {
    control_header h = print_control_header(cx, header_at(cx, frame, offset), proto, label, ncp_code_name);
    if (is_configuration_code(h.code)) print_first_option(cx, h, option_name);
    bump(counter);
    return 0;
}

}  // namespace

int decode_lcp(decode_context& cx, const uint8_t* frame, unsigned offset) {
    control_header h = print_control_header(cx, header_at(cx, frame, offset), "lcp", "LCP", lcp_code_name);
    const uint8_t* k = h.packet;
    if (is_configuration_code(h.code)) {
        print_first_option(cx, h, [](uint8_t type) { return dense_name(lcp_options, type, "Unknown"); });
    } else if (h.code >= 9 && h.code <= 13) {
        zelk_printf(cx.out, "    Magic-Num: ");
        print_hex_bytes(cx, "magic_number", k + 4, 4);
        if (h.code == 13) {
            zelk_printf(cx.out, ", Seconds-Remaining: ");
            print_hex_bytes(cx, "seconds_remaining", k + 8, 4);
        }
        zelk_printf(cx.out, "\n");
        if (h.code == 13 && h.length > 8) {
            zelk_printf(cx.out, "    Message: ");
            print_counted(cx, "message", k + 12, h.length - 12L, k + h.length);
            zelk_printf(cx.out, "\n");
        }
    }
    bump(cx.counters.lcp);
    return 0;
}

int decode_ipcp(decode_context& cx, const uint8_t* frame, unsigned offset) {
    control_header h = print_control_header(cx, header_at(cx, frame, offset), "ipcp", "IPCP", ncp_code_name);
    const uint8_t* option = nullptr;
    if (is_configuration_code(h.code))
        option = print_first_option(cx, h, [](uint8_t type) { return find_name(ipcp_options, type, unknown_option); });
    const char* label = nullptr;
    const char* key = nullptr;
    if (option) {
        switch (get_u8(cx, option)) {
            case 3: label = "IP-Address", key = "ip_address"; break;
            case 4: label = "Mobile-IPv4", key = "mobile_ipv4"; break;
            case 129: label = "Primary DNS", key = "primary_dns"; break;
            case 130: label = "Primary NBNS", key = "primary_nbns"; break;
            case 131: label = "Secondary DNS", key = "secondary_dns"; break;
            case 132: label = "Secondary NBNS", key = "secondary_nbns"; break;
            default: break;
        }
    }
    if (label) {
        if (get_u8(cx, option + 1) != 6) {
            zelk_printf(cx.out, "      Error: Invalid length in IPCP configuration header\n");
            record_text(cx, "error", "invalid option length");
            bump(cx.counters.ipcp_error);
        } else {
            const uint8_t* a = option + 2;
            need(cx, a, 4);
            zelk_printf(cx.out, "      %s: %u.%u.%u.%u\n", label, a[0], a[1], a[2], a[3]);
            record_text(cx, key, ipv4_text(cx, a));
        }
    }
    bump(cx.counters.ipcp);
    return 0;
}

int decode_ipv6cp(decode_context& cx, const uint8_t* frame, unsigned offset) {
    return decode_simple_control(
        cx, frame, offset, "ipv6cp", "IPV6CP",
        [](uint8_t type) { return find_name(ipv6cp_options, type, unknown_option); }, cx.counters.ipv6cp);
}

int decode_ipxcp(decode_context& cx, const uint8_t* frame, unsigned offset) {
    return decode_simple_control(
        cx, frame, offset, "ipxcp", "IPXCP",
        [](uint8_t type) { return find_name(ipxcp_options, type, unknown_option); }, cx.counters.ipxcp);
}

int decode_atcp(decode_context& cx, const uint8_t* frame, unsigned offset) {
    control_header h = print_control_header(cx, header_at(cx, frame, offset), "atcp", "ATCP", ncp_code_name);
    const uint8_t* k = h.packet;
    const uint8_t* option = nullptr;
    if (is_configuration_code(h.code))
        option = print_first_option(cx, h, [](uint8_t type) { return find_name(atcp_options, type, unknown_option); });
    if (option) {
        switch (get_u8(cx, option)) {
            case 1:
            case 8:
                // The node word is shown as it lies in memory.
                field(cx, "net", "      Net: %d", get_be16(cx, k + 8));
                field(cx, "node", ", Node: %d\n", static_cast<int>(get_le32(cx, k + 12)));
                break;
            case 2: {
                uint16_t routing = get_be16(cx, k + 8);
                field(cx, "routing_protocol", "      Routing Protocol: %d", routing);
                print_name(cx, "routing_protocol", dense_name(atcp_routing_protocols, routing, "Unknown"));
                zelk_printf(cx.out, "\n");
                break;
            }
            case 4: field(cx, "compression_protocol", "      Compression Protocol: %d\n", get_be16(cx, k + 8)); break;
            case 6:
                field(cx, "server_class", "      Server-Class: %d", get_be16(cx, k + 8));
                field(cx, "server_impl_id", ", Server-Impl-ID: %d\n", static_cast<int>(get_be32(cx, k + 12)));
                break;
            default: break;
        }
    }
    bump(cx.counters.atcp);
    return 0;
}

int decode_ecp(decode_context& cx, const uint8_t* frame, unsigned offset) {
    control_header h = print_control_header(cx, header_at(cx, frame, offset), "ecp", "ECP", reset_code_name);
    if (is_configuration_code(h.code))
        print_first_option(cx, h, [](uint8_t type) { return find_name(ecp_options, type, unknown_option); });
    bump(cx.counters.ecp);
    return 0;
}

int decode_ccp(decode_context& cx, const uint8_t* frame, unsigned offset) {
    control_header h = print_control_header(cx, header_at(cx, frame, offset), "ccp", "CCP", reset_code_name);
    if (is_configuration_code(h.code))
        print_first_option(cx, h, [](uint8_t type) { return find_name(ccp_options, type, unknown_option); });
    bump(cx.counters.ccp);
    return 0;
}

int decode_pap(decode_context& cx, const uint8_t* frame, unsigned offset) {
    const uint8_t* k = header_at(cx, frame, offset);
    control_header h =
        print_control_header(cx, k, "pap", "PAP", [](uint8_t code) { return find_name(pap_codes, code, "unknown"); });
    const uint8_t* end = k + h.length;
    if (h.code == 1) {
        uint8_t peer_length = counted_length(cx, k + 4, end);
        field(cx, "peer_id_length", "    Peer-ID Length: %d\n", peer_length);
        zelk_printf(cx.out, "    Peer-ID: ");
        print_counted(cx, "peer_id", k + 5, peer_length, end);
        uint8_t password_length = counted_length(cx, k + 5 + peer_length, end);
        field(cx, "password_length", "\n    Password Length: %d\n", password_length);
        zelk_printf(cx.out, "    Password: ");
        print_counted(cx, "password", k + 6 + peer_length, password_length, end);
        zelk_printf(cx.out, "\n");
    } else if (h.code == 2 || h.code == 3) {
        uint8_t message_length = counted_length(cx, k + 4, end);
        field(cx, "message_length", "    Message Length: %d\n", message_length);
        zelk_printf(cx.out, "    Message: ");
        print_counted(cx, "message", k + 5, message_length, end);
        zelk_printf(cx.out, "\n");
    }
    bump(cx.counters.pap);
    return 0;
}

int decode_chap(decode_context& cx, const uint8_t* frame, unsigned offset) {
    const uint8_t* k = header_at(cx, frame, offset);
    control_header h = print_control_header(cx, k, "chap", "CHAP",
                                            [](uint8_t code) { return find_name(chap_codes, code, "unknown"); });
    const uint8_t* end = k + h.length;
    if (h.code == 1 || h.code == 2) {
        uint8_t value_size = counted_length(cx, k + 4, end);
        field(cx, "value_size", "    Value-Size: %d\n", value_size);
        zelk_printf(cx.out, "    Value: \"");
        print_counted(cx, "value", k + 5, value_size, end);
        zelk_printf(cx.out, "\"\n    Name: \"");
        print_counted(cx, "name", k + 5 + value_size, h.length - 5L - value_size, end);
        zelk_printf(cx.out, "\"\n");
    } else if (h.code == 3 || h.code == 4) {
        zelk_printf(cx.out, "    Message: \"");
        print_counted(cx, "message", k + 4, h.length - 4L, end);
        zelk_printf(cx.out, "\"\n");
    }
    bump(cx.counters.chap);
    return 0;
}

int decode_lqr(decode_context& cx, const uint8_t* frame, unsigned offset) {
    static const char* const fields[] = {
        "LastOutLQRs",   "LastOutPackets", "LastOutOctets", "PeerInLQRs",     "PeerInPackets", "PeerInDiscards",
        "PeerInErrors",  "PeerInOctets",   "PeerOutLQRs",   "PeerOutPackets", "PeerOutOctets", "SaveInLQRs",
        "SaveInPackets", "SaveInDiscards", "SaveInErrors",  "SaveInOctets",
    };
    static const char* const keys[] = {
        "last_out_lqrs",   "last_out_packets", "last_out_octets", "peer_in_lqrs",
        "peer_in_packets", "peer_in_discards", "peer_in_errors",  "peer_in_octets",
        "peer_out_lqrs",   "peer_out_packets", "peer_out_octets", "save_in_lqrs",
        "save_in_packets", "save_in_discards", "save_in_errors",  "save_in_octets",
    };
    const uint8_t* k = header_at(cx, frame, offset);
    layer(cx, "lqr", "\n  - LQR Header -\n");
    field(cx, "magic_number", "    Magic-Num: 0x%x\n", get_le32(cx, k));
    const uint8_t* counter = k + 4;
    for (size_t i = 0; i < std::size(fields); ++i) {
        uint32_t value = get_be32(cx, counter);
        zelk_printf(cx.out, "    %s: %u\n", fields[i], value);
        record_number(cx, keys[i], value);
        counter += 4;
    }
    bump(cx.counters.lqr);
    return 0;
}
