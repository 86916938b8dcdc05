// The link-layer decoders under --json and --summary: the keys a reader
// relies on, valid JSON for every frame and every prefix of it.
#include <gtest/gtest.h>

#include "decode/decoder.h"
#include "decode/link/atm.h"
#include "decode/link/cisco.h"
#include "decode/link/ethernet.h"
#include "decode/link/fddi.h"
#include "decode/link/ieee80211.h"
#include "decode/link/linux_cooked.h"
#include "decode/link/ppp.h"
#include "decode/link/radiotap.h"
#include "decode/link/slip.h"
#include "decode/link/token_ring.h"
#include "support.h"

namespace {

using test::bytes;
using test::hex;

const std::string arp_request = "0001 0800 06 04 0001 020000000001 0a000001 000000000000 0a000002";
const std::string arp_reply = "0001 0800 06 04 0002 020000000002 0a000002 020000000001 0a000001";
const std::string ipv4_udp = "45000020 00010000 4011e7cb 0a000001 0a000002 3039 270f 000c 0000 61626364";

bytes ethernet(const std::string& type, const std::string& payload) {
    return hex("ffffffffffff 020000000001" + type + payload);
}

struct json_case {
    const char* name;
    link_decoder decoder;
    bytes frame;
    unsigned link_header_length;
    std::vector<std::string> parts;
};

std::vector<json_case> cases() {
    return {
        {"ARP request",
         decode_ethernet,
         ethernet("0806", arp_request),
         14,
         {"\"arp\":{\"hardware_type\":1,\"hardware_type_name\":\"Ethernet 10 Mbit/FDDI\",\"protocol_type\":"
          "2048,\"protocol_type_name\":\"IPv4\",\"hardware_length\":6,\"protocol_length\":4,\"opcode\":1,"
          "\"opcode_name\":\"ARP request\",\"sender_hardware\":\"02:00:00:00:00:01\"",
          "\"sender_protocol\":\"10.0.0.1\",\"target_hardware\":\"00:00:00:00:00:00\",\"target_vendor\":\"Nothing "
          "set\",\"target_protocol\":\"10.0.0.2\"}"}},
        {"LLC, SNAP and CDP",
         decode_ethernet,
         hex("01000ccccccc 020000000001 0016 aaaa03 00000c 2000 02b4 0000 0001 0006 5231 0003 0006 6530"),
         14,
         {"\"llc\":{\"dsap\":170,\"dsap_name\":\"SNAP\",\"ig_bit\":0,\"ig_bit_name\":\"Individual\"",
          "\"control\":3,\"control_name\":\"Unnumbered frame\",\"oui\":12,\"oui_name\":\"Cisco protocols\",\"type\":"
          "8192,\"type_name\":\"CDP\"}",
          "\"cdp\":{\"version\":2,\"ttl\":180,\"checksum\":0,\"tlvs\":[{\"type\":1,\"type_name\":\"Device "
          "ID\",\"device_id\":\"R1\",\"length\":6},{\"type\":3,\"type_name\":\"Port ID\",\"port_id\":\"e0\","
          "\"length\":6}]}"}},
        {"Token Ring",
         decode_token_ring,
         hex("10 40 ffffffffffff 020000000001 aaaa03 000000 0806" + arp_request),
         14,
         {"\"token_ring\":{\"access_control\":16,\"priority\":0,\"token\":true,\"monitor\":false,"
          "\"reservation\":0,\"frame_control\":64,\"type\":1,\"type_name\":\"LLC\",\"pcf\":0,\"pcf_name\":\"Normal "
          "buffer\",\"dst\":\"ff:ff:ff:ff:ff:ff\"",
          "\"source_routed\":false}", "\"arp\":{"}},
        {"FDDI",
         decode_fddi,
         hex("41 ffffffffffff 020000000001"),
         21,
         {"\"fddi\":{\"frame_control\":65,\"frame_control_name\":\"SMT info\",\"dst\":\"ff:ff:ff:ff:ff:ff\","
          "\"dst_vendor\":\"Broadcast\",\"src\":\"02:00:00:00:00:01\""}},
        {"802.11 beacon",
         decode_ieee80211,
         hex("8000 0000 ffffffffffff 020000000001 020000000001 1000 0807060504030201 6400 0104"),
         0,
         {"\"ieee80211\":{\"version\":0,\"type\":0,\"type_name\":\"Management\",\"subtype\":8,"
          "\"subtype_name\":\"Beacon\",\"duration\":0,\"da\":\"ff:ff:ff:ff:ff:ff\",\"sa\":\"02:00:00:00:00:01\","
          "\"bssid\":\"02:00:00:00:00:01\",\"fragment\":0,\"sequence\":1,\"timestamp\":72623859790382856,"
          "\"interval\":100,\"capabilities\":1025}"}},
        {"802.11 data to the distribution system",
         decode_ieee80211,
         hex("0809 2c00 020000000003 020000000001 020000000002 2000 aaaa03 000000 0806" + arp_request),
         0,
         {"\"subtype\":0,\"subtype_name\":\"Data\",\"duration\":44,\"more_fragments\":false,\"retry\":true,"
          "\"power_management\":false,\"more_data\":false,\"wep\":false,\"order\":false,\"bssid\":\"02:00:00:00:00:"
          "03\","
          "\"sa\":\"02:00:00:00:00:01\",\"da\":\"02:00:00:00:00:02\",\"fragment\":0,\"sequence\":2}",
          "\"llc\":{", "\"arp\":{"}},
        {"802.11 acknowledgement behind radiotap",
         decode_radiotap,
         hex("00 00 0e00 0e000000 02 6c 6c09 a000 d400 0000 020000000001 01020304"),
         0,
         {"\"radiotap\":{\"version\":0,\"length\":14,\"present\":[14],\"flags\":2,\"flags_name\":[\"Short "
          "preamble\"],\"rate_kbps\":54000,\"channel_frequency\":2412,\"channel_flags\":160,\"channel_flags_name\":["
          "\"CCK\",\"2 GHz\"]}",
          "\"subtype\":13,\"subtype_name\":\"Acknowledgement\",\"duration\":0,\"ra\":\"02:00:00:00:00:01\",\"fcs\":"
          "16909060}"}},
        {"PPPoE session with LCP",
         decode_ethernet,
         ethernet("8864", "11 00 1234 000a c021 0901 0008 01020304"),
         14,
         {"\"pppoe\":{\"version\":1,\"type\":1,\"code\":0,\"code_name\":\"Session stage\",\"session_id\":"
          "4660,\"length\":10}",
          "\"ppp\":{\"protocol\":49185,\"protocol_name\":\"LCP\"}",
          "\"lcp\":{\"code\":9,\"code_name\":\"Echo-Request\",\"identifier\":1,\"length\":8,"
          "\"magic_number\":16909060}"}},
        {"PPPoE discovery tags",
         decode_ethernet,
         ethernet("8863", "11 09 0000 0012 0101 0000 0102 0006 61632d6f6e65 0000 0000"),
         14,
         {"\"code\":9,\"code_name\":\"PADI\"",
          "\"tags\":[{\"type\":257,\"type_name\":\"Session Name\",\"length\":0},{\"type\":258,\"type_name\":\"AC-"
          "Name\",\"length\":6,\"value\":\"ac-one\"},{\"type\":0,\"type_name\":\"End-Of-List\",\"length\":0}]"}},
        {"PPP link with IPCP",
         decode_ppp_link,
         hex("ff03 8021 0101 000a 0306 0a000001"),
         4,
         {"\"ipcp\":{\"code\":1,\"code_name\":\"Configuration-Request\",\"identifier\":1,\"length\":10,"
          "\"option_type\":3,\"option_type_name\":\"IP Address\",\"option_length\":6,\"ip_address\":\"10.0.0.1\"}"}},
        {"Cisco HDLC with IPv4",
         decode_cisco_hdlc,
         hex("0f00 0800" + ipv4_udp),
         4,
         {"\"cisco_hdlc\":{\"address\":15,\"address_name\":\"Unicast\",\"type\":2048,\"type_name\":"
          "\"IPv4\"}",
          "\"ipv4\":{"}},
        {"BOFL",
         decode_ethernet,
         ethernet("8102", "deadbeef 80000001"),
         14,
         {"\"bofl\":{\"pdu\":3735928559,\"sequence\":2147483649}"}},
        {"MOP request program",
         decode_ethernet,
         ethernet("6001", "08 05 01 02"),
         14,
         {"\"mop\":{\"code\":8,\"code_name\":\"Request Program\",\"device_type\":5,\"format_version\":1,"
          "\"program_type\":2,\"program_type_name\":\"Operation System\"}"}},
        {"ATM classical IP with LLC",
         decode_atm_clip,
         hex("aaaa03 000000 0800" + ipv4_udp),
         0,
         {"\"atm_clip\":{\"dsap\":170,\"ssap\":170,\"control\":3,\"oui\":0,\"type\":2048,\"type_name\":"
          "\"IPv4\"}"}},
        {"Linux cooked",
         decode_linux_cooked,
         hex("0000 0001 0006 020000000001 0000 0806" + arp_request),
         0,
         {"\"linux_cooked\":{\"protocol\":2054,\"packet_type\":0,\"packet_type_name\":\"To us\","
          "\"hardware_type\":1,\"address_length\":6,\"address\":\"02:00:00:00:00:01\"}",
          "\"arp\":{"}},
        {"SLIP with an unknown IP version",
         decode_slip,
         hex("c0 75 000000000000000000 00c0"),
         0,
         {"\"slip\":{\"ip_version\":7,\"error\":\"unknown IP version\"}"}},
    };
}

TEST(LinkJson, KeyFieldsAndValidJsonForEveryFamily) {
    for (const auto& c : cases()) {
        test::reset({"json"});
        std::string line = test::decode_record(c.decoder, c.frame, c.link_header_length);
        EXPECT_TRUE(test::valid_json(line)) << c.name << "\n" << line;
        for (const auto& part : c.parts)
            EXPECT_NE(line.find(part), std::string::npos) << c.name << ": " << part << "\n" << line;
        // Every prefix of the frame still gives one valid JSON value.
        for (size_t n = 0; n < c.frame.size(); ++n) {
            test::reset({"json"});
            bytes prefix(c.frame.begin(), c.frame.begin() + static_cast<long>(n));
            std::string cut = test::decode_record(c.decoder, prefix, c.link_header_length);
            EXPECT_TRUE(test::valid_json(cut)) << c.name << " cut at " << n << "\n" << cut;
        }
    }
}

TEST(LinkJson, SummaryWordsArpAndPppControlInPlainTerms) {
    struct {
        link_decoder decoder;
        bytes frame;
        unsigned link_header_length;
        std::string tail;
    } cases[] = {
        {decode_ethernet, ethernet("0806", arp_request), 14,
         "02:00:00:00:00:01 > ff:ff:ff:ff:ff:ff ARP request who-has 10.0.0.2 tell 10.0.0.1 (42 bytes)\n"},
        {decode_ethernet, ethernet("0806", arp_reply), 14, "ARP reply 10.0.0.2 is-at 02:00:00:00:00:02 (42 bytes)\n"},
        {decode_ethernet, ethernet("8035", "0001 0800 06 04 0003 020000000001 0a000001 020000000001 00000000"), 14,
         "ARP Reverse ARP request (42 bytes)\n"},
        {decode_ethernet, ethernet("8864", "11 00 1234 000a c021 0a01 0008 01020304"), 14,
         "LCP Echo-Reply (30 bytes)\n"},
        {decode_ieee80211, hex("8000 0000 ffffffffffff 020000000001 020000000001 1000 0807060504030201 6400 0104"), 0,
         "802.11 Beacon (36 bytes)\n"},
    };
    for (const auto& c : cases) {
        test::reset({"summary"});
        std::string line = test::decode_record(c.decoder, c.frame, c.link_header_length);
        ASSERT_GE(line.size(), c.tail.size()) << line;
        EXPECT_EQ(line.substr(line.size() - c.tail.size()), c.tail) << line;
    }
}

}  // namespace
