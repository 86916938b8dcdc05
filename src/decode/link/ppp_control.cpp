#include "decode/link/ppp_control.h"

#include <cstdio>

#include "decode/decoder.h"

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
control_header print_control_header(const uint8_t* k, const char* label, namer code_name_of) {
    zelk_printf("\n  - %s Header -", label);
    control_header h{k, get_u8(k), 0};
    zelk_printf("\n    Code: %d", h.code);
    print_name(code_name_of(h.code));
    h.length = get_be16(k + 2);
    zelk_printf("\n    Identifier: %d, Length: %d\n", get_u8(k + 1), h.length);
    return h;
}

const char* lcp_code_name(uint8_t code) { return dense_name(lcp_codes, code, unknown_code); }
const char* ncp_code_name(uint8_t code) { return dense_name(ncp_codes, code, unknown_code); }
const char* reset_code_name(uint8_t code) { return dense_name(reset_codes, code, unknown_code); }

bool is_configuration_code(uint8_t code) { return code >= 1 && code <= 4; }

// The first option of a configuration packet; only it is shown. A packet
// whose length leaves no room for an option header shows none.
const uint8_t* print_first_option(const control_header& h, namer option_name) {
    if (h.length < 6) return nullptr;
    const uint8_t* option = h.packet + 4;
    uint8_t type = get_u8(option);
    zelk_printf("    - Configuration Header -\n      Type: %d", type);
    print_name(option_name(type));
    zelk_printf("\n      Length: %d\n", get_u8(option + 1));
    return option;
}

// Prints up to n bytes of a counted string by the character rule, never
// past the end of the packet.
void print_counted(const uint8_t* p, long n, const uint8_t* packet_end) {
    long room = packet_end - p;
    if (n > room) n = room;
    if (n > 0) print_text_bytes(p, static_cast<size_t>(n));
}

// A length byte of a counted string; none lies beyond the packet.
uint8_t counted_length(const uint8_t* p, const uint8_t* packet_end) { return p < packet_end ? get_u8(p) : 0; }

void print_hex_bytes(const uint8_t* p, int n) {
    need(p, static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) zelk_printf("%02x", p[i]);
}

// A configuration-only network control protocol.
int decode_simple_control(const uint8_t* frame, unsigned offset, const char* label, namer option_name,
                          uint32_t& counter) {
    control_header h = print_control_header(header_at(frame, offset), label, ncp_code_name);
    if (is_configuration_code(h.code)) print_first_option(h, option_name);
    bump(counter);
    return 0;
}

}  // namespace

int decode_lcp(const uint8_t* frame, unsigned offset) {
    control_header h = print_control_header(header_at(frame, offset), "LCP", lcp_code_name);
    const uint8_t* k = h.packet;
    if (is_configuration_code(h.code)) {
        print_first_option(h, [](uint8_t type) { return dense_name(lcp_options, type, "Unknown"); });
    } else if (h.code >= 9 && h.code <= 13) {
        zelk_printf("    Magic-Num: ");
        print_hex_bytes(k + 4, 4);
        if (h.code == 13) {
            zelk_printf(", Seconds-Remaining: ");
            print_hex_bytes(k + 8, 4);
        }
        zelk_printf("\n");
        if (h.code == 13 && h.length > 8) {
            zelk_printf("    Message: ");
            print_counted(k + 12, h.length - 12L, k + h.length);
            zelk_printf("\n");
        }
    }
    bump(counters.lcp);
    return 0;
}

int decode_ipcp(const uint8_t* frame, unsigned offset) {
    control_header h = print_control_header(header_at(frame, offset), "IPCP", ncp_code_name);
    const uint8_t* option = nullptr;
    if (is_configuration_code(h.code))
        option = print_first_option(h, [](uint8_t type) { return find_name(ipcp_options, type, unknown_option); });
    const char* label = nullptr;
    if (option) {
        switch (get_u8(option)) {
            case 3: label = "IP-Address"; break;
            case 4: label = "Mobile-IPv4"; break;
            case 129: label = "Primary DNS"; break;
            case 130: label = "Primary NBNS"; break;
            case 131: label = "Secondary DNS"; break;
            case 132: label = "Secondary NBNS"; break;
            default: break;
        }
    }
    if (label) {
        if (get_u8(option + 1) != 6) {
            zelk_printf("      Error: Invalid length in IPCP configuration header\n");
            bump(counters.ipcp_error);
        } else {
            const uint8_t* a = option + 2;
            need(a, 4);
            zelk_printf("      %s: %u.%u.%u.%u\n", label, a[0], a[1], a[2], a[3]);
        }
    }
    bump(counters.ipcp);
    return 0;
}

int decode_ipv6cp(const uint8_t* frame, unsigned offset) {
    return decode_simple_control(
        frame, offset, "IPV6CP", [](uint8_t type) { return find_name(ipv6cp_options, type, unknown_option); },
        counters.ipv6cp);
}

int decode_ipxcp(const uint8_t* frame, unsigned offset) {
    return decode_simple_control(
        frame, offset, "IPXCP", [](uint8_t type) { return find_name(ipxcp_options, type, unknown_option); },
        counters.ipxcp);
}

int decode_atcp(const uint8_t* frame, unsigned offset) {
    control_header h = print_control_header(header_at(frame, offset), "ATCP", ncp_code_name);
    const uint8_t* k = h.packet;
    const uint8_t* option = nullptr;
    if (is_configuration_code(h.code))
        option = print_first_option(h, [](uint8_t type) { return find_name(atcp_options, type, unknown_option); });
    if (option) {
        switch (get_u8(option)) {
            case 1:
            case 8:
                // The node word is shown as it lies in memory.
                zelk_printf("      Net: %d, Node: %d\n", get_be16(k + 8), static_cast<int>(get_le32(k + 12)));
                break;
            case 2: {
                uint16_t routing = get_be16(k + 8);
                zelk_printf("      Routing Protocol: %d", routing);
                print_name(dense_name(atcp_routing_protocols, routing, "Unknown"));
                zelk_printf("\n");
                break;
            }
            case 4: zelk_printf("      Compression Protocol: %d\n", get_be16(k + 8)); break;
            case 6:
                zelk_printf("      Server-Class: %d, Server-Impl-ID: %d\n", get_be16(k + 8),
                            static_cast<int>(get_be32(k + 12)));
                break;
            default: break;
        }
    }
    bump(counters.atcp);
    return 0;
}

int decode_ecp(const uint8_t* frame, unsigned offset) {
    control_header h = print_control_header(header_at(frame, offset), "ECP", reset_code_name);
    if (is_configuration_code(h.code))
        print_first_option(h, [](uint8_t type) { return find_name(ecp_options, type, unknown_option); });
    bump(counters.ecp);
    return 0;
}

int decode_ccp(const uint8_t* frame, unsigned offset) {
    control_header h = print_control_header(header_at(frame, offset), "CCP", reset_code_name);
    if (is_configuration_code(h.code))
        print_first_option(h, [](uint8_t type) { return find_name(ccp_options, type, unknown_option); });
    bump(counters.ccp);
    return 0;
}

int decode_pap(const uint8_t* frame, unsigned offset) {
    const uint8_t* k = header_at(frame, offset);
    control_header h =
        print_control_header(k, "PAP", [](uint8_t code) { return find_name(pap_codes, code, "unknown"); });
    const uint8_t* end = k + h.length;
    if (h.code == 1) {
        uint8_t peer_length = counted_length(k + 4, end);
        zelk_printf("    Peer-ID Length: %d\n    Peer-ID: ", peer_length);
        print_counted(k + 5, peer_length, end);
        uint8_t password_length = counted_length(k + 5 + peer_length, end);
        zelk_printf("\n    Password Length: %d\n    Password: ", password_length);
        print_counted(k + 6 + peer_length, password_length, end);
        zelk_printf("\n");
    } else if (h.code == 2 || h.code == 3) {
        uint8_t message_length = counted_length(k + 4, end);
        zelk_printf("    Message Length: %d\n    Message: ", message_length);
        print_counted(k + 5, message_length, end);
        zelk_printf("\n");
    }
    bump(counters.pap);
    return 0;
}

int decode_chap(const uint8_t* frame, unsigned offset) {
    const uint8_t* k = header_at(frame, offset);
    control_header h =
        print_control_header(k, "CHAP", [](uint8_t code) { return find_name(chap_codes, code, "unknown"); });
    const uint8_t* end = k + h.length;
    if (h.code == 1 || h.code == 2) {
        uint8_t value_size = counted_length(k + 4, end);
        zelk_printf("    Value-Size: %d\n    Value: \"", value_size);
        print_counted(k + 5, value_size, end);
        zelk_printf("\"\n    Name: \"");
        print_counted(k + 5 + value_size, h.length - 5L - value_size, end);
        zelk_printf("\"\n");
    } else if (h.code == 3 || h.code == 4) {
        zelk_printf("    Message: \"");
        print_counted(k + 4, h.length - 4L, end);
        zelk_printf("\"\n");
    }
    bump(counters.chap);
    return 0;
}

int decode_lqr(const uint8_t* frame, unsigned offset) {
    static const char* const fields[] = {
        "LastOutLQRs",   "LastOutPackets", "LastOutOctets", "PeerInLQRs",     "PeerInPackets", "PeerInDiscards",
        "PeerInErrors",  "PeerInOctets",   "PeerOutLQRs",   "PeerOutPackets", "PeerOutOctets", "SaveInLQRs",
        "SaveInPackets", "SaveInDiscards", "SaveInErrors",  "SaveInOctets",
    };
    const uint8_t* k = header_at(frame, offset);
    zelk_printf("\n  - LQR Header -\n    Magic-Num: 0x%x\n", get_le32(k));
    const uint8_t* counter = k + 4;
    for (const char* field : fields) {
        zelk_printf("    %s: %u\n", field, get_be32(counter));
        counter += 4;
    }
    bump(counters.lqr);
    return 0;
}
