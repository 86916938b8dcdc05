// Link-layer frames the plain header layouts misread: 802.11 QoS data,
// radiotap frames that end with their FCS, PPP with a compressed protocol
// field, and SLARP on Cisco HDLC lines.
#include <gtest/gtest.h>

#include "decode/decoder.h"
#include "decode/link/cisco.h"
#include "decode/link/ethernet.h"
#include "decode/link/ieee80211.h"
#include "decode/link/ppp.h"
#include "decode/link/radiotap.h"
#include "support.h"

namespace {

using test::bytes;
using test::hex;

const std::string arp_request = "0001 0800 06 04 0001 020000000001 0a000001 000000000000 0a000002";
const std::string snap_arp = "aaaa03 000000 0806" + arp_request;
const std::string addresses = "020000000003 020000000001 020000000002";

// With LLC expanded the SNAP header shows where the body was read.
const std::string snap_text =
    "\n- LLC Header -\n  DSAP: 0xaa, IG Bit: 0\n  SSAP: 0xaa, CR-Bit: 0, U-Bit: 1\n  Control: 0x03\n  OUI: "
    "0x000000\n  Type: 0x0806\n- ARP Header -\n";

TEST(Ieee80211Qos, BodyStartsBehindQosAndHtControl) {
    struct {
        const char* name;
        std::string frame;
        std::string want;  // from the sequence number on
    } cases[] = {
        {"QoS data to the distribution system", "8801 2c00" + addresses + "2000 0500" + snap_arp,
         "Sequence Number: 2\n  QoS Control: 0x0005, TID: 5" + snap_text},
        {"QoS data with the Order bit: HT Control follows", "8881 2c00" + addresses + "2000 0700 0c000080" + snap_arp,
         "Sequence Number: 2\n  QoS Control: 0x0007, TID: 7\n  HT Control: 0x8000000c" + snap_text},
        {"QoS data between two access points", "8803 2c00" + addresses + "2000 020000000004 0300" + snap_arp,
         "  SA: 02:00:00:00:00:04\n  Fragment Number: 0, Sequence Number: 2\n  QoS Control: 0x0003, TID: 3" +
             snap_text},
        {"QoS null data has no body", "c801 2c00" + addresses + "2000 0000",
         "Sequence Number: 2\n  QoS Control: 0x0000, TID: 0"},
        {"A plain data frame keeps its layout and ignores the Order bit", "0881 2c00" + addresses + "2000" + snap_arp,
         "Sequence Number: 2" + snap_text},
    };
    for (const auto& c : cases) {
        test::reset({"expand-llc"});
        std::string out = test::decode(decode_ieee80211, hex(c.frame));
        size_t at = out.find(c.want);
        EXPECT_NE(at, std::string::npos) << c.name << "\n" << out;
        if (at != std::string::npos) {
            EXPECT_EQ(out.substr(at), c.want) << c.name;
        }
        EXPECT_GT(test::decode_all_prefixes(decode_ieee80211, hex(c.frame)), 0) << c.name;
    }
    test::reset({"json"});
    std::string line = test::decode_record(decode_ieee80211, hex(cases[1].frame));
    EXPECT_NE(line.find("\"qos_control\":7,\"tid\":7,\"ht_control\":2147483660}"), std::string::npos) << line;
}

// Radiotap with only the flags field; 0x10 says the frame ends with its FCS.
std::string radiotap(const char* flags) { return std::string("0000 0900 02000000 ") + flags; }

TEST(RadiotapFcs, TheLastFourBytesAreNotFrameBody) {
    const std::string fcs = "a1b2c3d4";
    const std::string null_frame = "4801 2c00" + addresses + "2000";
    struct {
        const char* name;
        std::string frame;
        bool llc;
    } cases[] = {
        // Before, the FCS bytes were shown as an LLC header.
        {"null data with FCS", radiotap("10") + null_frame + fcs, false},
        {"null data with FCS, names-only flags", radiotap("12") + null_frame + fcs, false},
        {"without the flag, bytes behind the header are body", radiotap("00") + null_frame + fcs, true},
        {"data with FCS", radiotap("10") + "0801 2c00" + addresses + "2000" + snap_arp + fcs, true},
    };
    for (const auto& c : cases) {
        test::reset();
        std::string out = test::decode(decode_radiotap, hex(c.frame));
        EXPECT_EQ(out.find("- LLC Header -") != std::string::npos, c.llc) << c.name << "\n" << out;
        EXPECT_EQ(out.find("[malformed"), std::string::npos) << c.name << "\n" << out;
        EXPECT_GT(test::decode_all_prefixes(decode_radiotap, hex(c.frame)), 0) << c.name;
    }
    // The ARP body ends where the FCS begins: one byte less is a cut header.
    test::reset({"expand-arp"});
    std::string cut = test::decode(decode_radiotap, hex(radiotap("10") + "0801 2c00" + addresses + "2000" +
                                                        snap_arp.substr(0, snap_arp.size() - 2) + fcs));
    EXPECT_NE(cut.find("[malformed: a header runs past the end of the"), std::string::npos) << cut;

    test::reset({"json"});
    std::string line = test::decode_record(decode_radiotap, hex(radiotap("10") + null_frame + fcs));
    EXPECT_NE(line.find("\"fcs\":2712847316"), std::string::npos) << line;
    EXPECT_EQ(line.find("\"llc\":{"), std::string::npos) << line;
}

TEST(PppProtocolCompression, OddFirstByteIsAOneByteProtocol) {
    const std::string ipv4 = "45000014 00010000 40ff0000 0a000001 0a000002";
    struct {
        const char* name;
        link_decoder decoder;
        std::string frame;
        unsigned link_header_length;
        std::string want_start;
    } cases[] = {
        {"compressed IPv4 behind address and control", decode_ppp_link, "ff03 21" + ipv4, 4,
         "- PPP Header -\n  Protocol: 0x21 (IPv4)\n- IPv4 Header -"},
        {"compressed IPv4 with address and control compressed too", decode_ppp_link, "21" + ipv4, 4,
         "- PPP Header -\n  Protocol: 0x21 (IPv4)\n- IPv4 Header -"},
        {"two-byte IPv4 unchanged", decode_ppp_link, "ff03 0021" + ipv4, 4,
         "- PPP Header -\n  Protocol: 0x21 (IPv4)\n- IPv4 Header -"},
        {"compressed IPv6", decode_ppp,
         "57 60000000 0000 3b40 20010db8000000000000000000000001 20010db8000000000000000000000002", 0,
         "- PPP Header -\n  Protocol: 0x57 (IPv6)\n- IPv6 Header -"},
        {"LCP is never compressed", decode_ppp, "c021 0a01 0008 deadbeef", 0,
         "- PPP Header -\n  Protocol: 0xc021 (LCP)\n  - LCP Header -"},
        {"PPPoE session with a compressed protocol", decode_ethernet,
         "020000000001 020000000002 8864 1100 1234 0015 21" + ipv4, 14,
         "\n- Ethernet Header -\n- PPPoE Header -\n- PPP Header -\n  Protocol: 0x21 (IPv4)\n- IPv4 Header -"},
    };
    for (const auto& c : cases) {
        test::reset({"verbose"});
        std::string out = test::decode(c.decoder, hex(c.frame), c.link_header_length);
        EXPECT_EQ(out.substr(0, c.want_start.size()), c.want_start) << c.name << "\n" << out;
        EXPECT_EQ(out.find("[malformed"), std::string::npos) << c.name << "\n" << out;
    }
    test::reset({"json"});
    std::string line = test::decode_record(decode_ppp_link, hex("21" + ipv4), 4);
    EXPECT_NE(line.find("\"ppp\":{\"protocol\":33,\"protocol_name\":\"IPv4\",\"protocol_compressed\":true}"),
              std::string::npos)
        << line;
}

TEST(Slarp, RequestReplyAndKeepaliveOnCiscoHdlc) {
    const std::string head = "\n- Cisco HDLC Header -\n  Address: 0x8f (Multicast)\n  Protocol: 0x8035 (SLARP)\n";
    struct {
        std::string packet;
        std::string want;
    } cases[] = {
        {"00000000 00000000 00000000 0000",
         "- SLARP Header -\n  Code: 0 (Request)\n  Address: 0.0.0.0, Mask: 0.0.0.0\n"},
        {"00000001 0a010101 fffffffc 0000",
         "- SLARP Header -\n  Code: 1 (Reply)\n  Address: 10.1.1.1, Mask: 255.255.255.252\n"},
        {"00000002 00000005 00000004 ffff",
         "- SLARP Header -\n  Code: 2 (Keepalive)\n  My Sequence: 5, Your Sequence: 4\n  Reliability: 0xffff\n"},
        {"00000007 00000000 00000000 0000", "- SLARP Header -\n  Code: 7 (Unknown)\n"},
    };
    for (const auto& c : cases) {
        test::reset({"verbose", "statistic"});
        bytes frame = hex("8f00 8035" + c.packet);
        EXPECT_EQ(test::decode(decode_cisco_hdlc, frame, 4), head + c.want) << c.packet;
        EXPECT_EQ(counters.slarp, 1u);
        EXPECT_EQ(counters.arp, 0u);
        EXPECT_EQ(counters.cisco_hdlc, 1u);
        EXPECT_GT(test::decode_all_prefixes(decode_cisco_hdlc, frame, 4), 0) << c.packet;
    }
    // Without --verbose the lines carry no names.
    test::reset();
    EXPECT_EQ(test::decode(decode_cisco_hdlc, hex("0f00 8035 00000002 00000005 00000004 ffff"), 4),
              "\n- Cisco HDLC Header -\n  Address: 0x0f\n  Protocol: 0x8035\n- SLARP Header -\n  Code: 2\n  My "
              "Sequence: 5, Your Sequence: 4\n  Reliability: 0xffff\n");
    // The same EtherType on Ethernet is still reverse ARP.
    test::reset({"statistic"});
    test::decode(decode_ethernet, hex("ffffffffffff 020000000001 8035" + arp_request), 14);
    EXPECT_EQ(counters.arp, 1u);
    EXPECT_EQ(counters.slarp, 0u);

    test::reset({"summary"});
    std::string line = test::decode_record(decode_cisco_hdlc, hex("8f00 8035 00000001 0a010101 fffffffc 0000"), 4);
    EXPECT_NE(line.find(" SLARP reply 10.1.1.1 mask 255.255.255.252 "), std::string::npos) << line;
    test::reset({"summary"});
    line = test::decode_record(decode_cisco_hdlc, hex("8f00 8035 00000002 00000005 00000004 ffff"), 4);
    EXPECT_NE(line.find(" SLARP keepalive seq 5 ack 4 "), std::string::npos) << line;
}

}  // namespace
