// LLDP, spanning tree BPDUs, LACP and 802.1ad tags: text written from
// IEEE 802.1AB, 802.1D/Q and 802.1AX, JSON keys, and every prefix.
#include <gtest/gtest.h>

#include "decode/context.h"
#include "decode/decoder.h"
#include "decode/link/ethernet.h"
#include "peer.h"
#include "pipeline/frame_loop.h"
#include "support.h"

namespace {

// The context the test helpers decode in.
decode_context& cx = frame_loop_main_context();

using test::bytes;
using test::hex;

// 802.1AB: TLV header = 7-bit type, 9-bit length.
const char* const lldp_tlvs =
    "0207 04 020000000001"                // chassis id, subtype 4 (MAC)
    "0405 05 65746830"                    // port id, subtype 5 (interface name) "eth0"
    "0602 0078"                           // TTL 120
    "0806 75706c696e6b"                   // port description "uplink"
    "0a03 737731"                         // system name "sw1"
    "0c06 44656269616e"                   // system description "Debian"
    "0e04 0014 0010"                      // capabilities: bridge+router, router enabled
    "100c 05 01 c0000201 02 00000002 00"  // management address 192.0.2.1, ifIndex 2, no OID
    "fe06 00120f 04 05ee"                 // 802.3 maximum frame size 1518
    "fe06 0080c2 01 0064"                 // 802.1 port VLAN id 100
    "1202 abcd"                           // TLV type 9, unknown
    "0000";                               // end

// 802.1AX LACPDU: actor and partner (system priority, system, key, port
// priority, port, state, 3 reserved), collector, terminator, reserved.
const char* const lacpdu =
    "01 01"
    "01 14 8000 020000000001 0009 00ff 0001 3d 000000"
    "02 14 8000 020000000002 0007 00ff 0002 3f 000000"
    "03 10 0000 000000000000000000000000"
    "00 00";

// 802.1D configuration BPDU: root 32768/0/00:00:00:00:00:01, cost 4,
// bridge 32768/1/02:00:00:00:00:01, port 0x8001, timers 1, 20, 2, 15 s.
const char* const config_bpdu = "0000 00 00 00 8000000000000001 00000004 8001020000000001 8001 0100 1400 0200 0f00";

// 802.1Q MST BPDU with one MSTI record (version 3 length 64 + 16).
const std::string mst_bpdu =
    std::string("0000 03 02 7c 1001000000000001 00004e20 8001020000000001 8002 0000 1400 0200 0f00") +
    "00 0050 00 726567696f6e31" + std::string(50, '0') + "0001" + std::string(32, 'a') +
    "00000000 8000020000000001 14" + "7c 8001020000000001 00000000 80 80 14";

bytes ethernet(const char* type, const std::string& payload) {
    return hex(std::string("0180c200000e 020000000001") + type + payload);
}

bytes ieee8023_llc(const std::string& bpdu) {
    bytes llc = hex("424203" + bpdu);
    bytes frame = hex("0180c2000000 020000000001 0000");
    test::put_be16(frame, 12, static_cast<uint16_t>(llc.size()));
    return test::concat({frame, llc});
}

int lldp_at(decode_context& cx, const frame_lengths* l, const uint8_t* f, unsigned o) {
    return decode_ethertype(cx, l, f, o, 0x88cc);
}
int slow_at(decode_context& cx, const frame_lengths* l, const uint8_t* f, unsigned o) {
    return decode_ethertype(cx, l, f, o, 0x8809);
}

TEST(LinkAdditions, TextShortAndExpanded) {
    struct {
        const char* name;
        link_decoder decoder;
        bytes frame;
        std::initializer_list<const char*> flags;
        const char* want;
    } cases[] = {
        {"LLDP short",
         lldp_at,
         ethernet("88cc", lldp_tlvs),
         {},
         "\n- LLDP -\n  Chassis ID: 02:00:00:00:00:01\n  Port ID: eth0\n  TTL: 120\n  System Name: sw1\n"},
        {"LLDP every TLV",
         lldp_at,
         ethernet("88cc", lldp_tlvs),
         {"expand-all", "verbose"},
         "\n- LLDP -\n  Chassis ID: 02:00:00:00:00:01, Subtype: 4 (MAC address)\n"
         "  Port ID: eth0, Subtype: 5 (Interface name)\n  TTL: 120\n  Port Description: uplink\n"
         "  System Name: sw1\n  System Description: Debian\n"
         "  Capabilities: 0x0014 (Bridge, Router), Enabled: 0x0010 (Router)\n"
         "  Management Address: 192.0.2.1, Family: 1, Interface Subtype: 2, Interface: 2, OID Length: 0\n"
         "  Organisation TLV: OUI 0x00120f (IEEE 802.3), Subtype: 4 (Maximum frame size), Length: 6\n"
         "    Maximum Frame Size: 1518\n"
         "  Organisation TLV: OUI 0x0080c2 (IEEE 802.1), Subtype: 1 (Port VLAN ID), Length: 6\n"
         "    Port VLAN ID: 100\n  TLV: 9, Length: 2\n  End\n"},
        {"LLDP network address chassis, no End TLV",
         lldp_at,
         ethernet("88cc", "0206 05 01 0a000001 0403 07 3132"),
         {},
         "\n- LLDP -\n  Chassis ID: 10.0.0.1\n  Port ID: 12\n"},
        {"LACP short",
         slow_at,
         ethernet("8809", lacpdu),
         {},
         "\n- LACP -\n  Actor System: 02:00:00:00:00:01, Key: 9, Port: 1\n  Actor State: 0x3d\n"
         "  Partner System: 02:00:00:00:00:02, Key: 7, Port: 2\n  Partner State: 0x3f\n"},
        {"LACP every field",
         slow_at,
         ethernet("8809", lacpdu),
         {"expand-all", "verbose"},
         "\n- LACP -\n  Version: 1\n"
         "  Actor System: 02:00:00:00:00:01, Priority: 32768, Key: 9, Port: 1, Port Priority: 255\n"
         "  Actor State: 0x3d (Activity, Aggregation, Synchronization, Collecting, Distributing)\n"
         "  Partner System: 02:00:00:00:00:02, Priority: 32768, Key: 7, Port: 2, Port Priority: 255\n"
         "  Partner State: 0x3f (Activity, Timeout, Aggregation, Synchronization, Collecting, Distributing)\n"
         "  Collector Max Delay: 0\n"},
        {"marker",
         slow_at,
         ethernet("8809", "02 01 01 10 0005 020000000001 00000007 0000 00 00"),
         {"expand-all", "verbose"},
         "\n- LACP Marker -\n  Version: 1\n  Type: 1 (Marker Information)\n"
         "  Requester Port: 5, System: 02:00:00:00:00:01, Transaction ID: 7\n"},
        {"other slow protocol",
         slow_at,
         ethernet("8809", "03 0050 00000000"),
         {"verbose"},
         "\n- Slow Protocol -\n  Subtype: 3 (OAM), Length: 7\n"},
        {"QinQ short",
         decode_ethernet,
         ethernet("88a8", "6064 8100 00c8 88b5 0000"),
         {},
         "\n- Ethernet Header -\n- 802.1ad VLAN Tags -\n  VLAN-ID: 100\n  VLAN-ID: 200\n"},
        {"QinQ expanded, 0x9100 with DEI",
         decode_ethernet,
         ethernet("9100", "1fff 88b5 0000"),
         {"expand-all"},
         "\n- Ethernet Header -\n  MAC Dst: 01:80:c2:00:00:0e\n  MAC Src: 02:00:00:00:00:01\n"
         "  Type(Ethernet II): 0x9100\n- 802.1ad VLAN Tags -\n  TPID: 0x9100, Priority: 0, DEI: 1, VLAN-ID: 4095\n"
         "  Type: 0x88b5\n"},
        {"QinQ then 802.3 length",
         decode_ethernet,
         ethernet("88a8", "0005 0003 f0f003"),
         {},
         "\n- Ethernet Header -\n- 802.1ad VLAN Tags -\n  VLAN-ID: 5\n- LLC Header -\n"},
        // The specified text of an 802.3 BPDU ends behind the LLC header.
        {"STP short stays as it was",
         decode_ethernet,
         ieee8023_llc(config_bpdu),
         {},
         "\n- Ethernet Header -\n- LLC Header -\n"},
        {"STP configuration",
         decode_ethernet,
         ieee8023_llc(config_bpdu),
         {"expand-all", "verbose"},
         "\n- Ethernet Header -\n  MAC Dst: 01:80:c2:00:00:00 (Vendor: Unknown)\n"
         "  MAC Src: 02:00:00:00:00:01 (Vendor: Unknown)\n- LLC Header -\n"
         "  DSAP: 0x42 (unknown), IG Bit: 0 (Individual)\n"
         "  SSAP: 0x42 (unknown), CR-Bit: 0 (Command), U-Bit: 1 (IEEE)\n  Control: 0x03 (Unnumbered frame)\n"
         "- STP BPDU -\n  Protocol ID: 0x0000\n  Protocol Version: 0 (STP), BPDU Type: 0x00 (Configuration)\n"
         "  Flags: 0x00\n  Root ID: 32768/0/00:00:00:00:00:01, Root Path Cost: 4\n"
         "  Bridge ID: 32768/1/02:00:00:00:00:01, Port ID: 0x8001\n"
         "  Message Age: 1, Max Age: 20, Hello Time: 2, Forward Delay: 15\n"},
        {"STP topology change notification",
         decode_ethernet,
         ieee8023_llc("0000 00 80"),
         {"expand-all"},
         "\n- Ethernet Header -\n  MAC Dst: 01:80:c2:00:00:00\n  MAC Src: 02:00:00:00:00:01\n- LLC Header -\n"
         "  DSAP: 0x42, IG Bit: 0\n  SSAP: 0x42, CR-Bit: 0, U-Bit: 1\n  Control: 0x03\n"
         "- STP BPDU -\n  Protocol ID: 0x0000\n  Protocol Version: 0, BPDU Type: 0x80\n"},
    };
    for (const auto& c : cases) {
        test::reset(c.flags);
        EXPECT_EQ(test::decode(c.decoder, c.frame, 14), c.want) << c.name;
    }
}

TEST(LinkAdditions, MstpRecords) {
    test::reset({"expand-all", "verbose"});
    std::string text = test::decode(decode_ethernet, ieee8023_llc(mst_bpdu), 14);
    std::string want =
        "- STP BPDU -\n  Protocol ID: 0x0000\n  Protocol Version: 3 (MSTP), BPDU Type: 0x02 (RST/MST)\n"
        "  Flags: 0x7c (Designated, Learning, Forwarding, Agreement)\n"
        "  Root ID: 4096/1/00:00:00:00:00:01, Root Path Cost: 20000\n"
        "  Bridge ID: 32768/1/02:00:00:00:00:01, Port ID: 0x8002\n"
        "  Message Age: 0, Max Age: 20, Hello Time: 2, Forward Delay: 15\n"
        "  MST Config ID Format: 0, Name: region1, Revision: 1\n"
        "  MST Config Digest: aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\n"
        "  CIST Internal Root Path Cost: 0, CIST Bridge ID: 32768/0/02:00:00:00:00:01, Remaining Hops: 20\n"
        "  MSTI 1: Flags: 0x7c (Designated, Learning, Forwarding, Agreement), "
        "Regional Root: 32768/1/02:00:00:00:00:01, Path Cost: 0\n"
        "    Bridge Priority: 32768, Port Priority: 128, Remaining Hops: 20\n";
    ASSERT_NE(text.find("- STP BPDU -"), std::string::npos) << text;
    EXPECT_EQ(text.substr(text.find("- STP BPDU -")), want);
}

TEST(LinkAdditions, CountersJsonSummaryAndPrefixes) {
    struct {
        const char* name;
        link_decoder decoder;
        bytes frame;
        uint32_t protocol_counters::*counter;
        std::vector<const char*> keys;
        const char* summary;
    } cases[] = {
        {"LLDP",
         lldp_at,
         ethernet("88cc", lldp_tlvs),
         &protocol_counters::lldp,
         {"\"lldp\":{\"chassis_id\":\"02:00:00:00:00:01\",\"chassis_id_subtype\":4", "\"port_id\":\"eth0\"",
          "\"ttl\":120", "\"system_name\":\"sw1\"", "\"management_addresses\":[{\"address\":\"192.0.2.1\",\"family\":1",
          "{\"oui\":32962,\"oui_name\":\"IEEE 802.1\",\"subtype\":1,\"subtype_name\":\"Port VLAN ID\",\"length\":6,"
          "\"port_vlan_id\":100}",
          "\"unknown_tlvs\":[{\"type\":9,\"length\":2}]"},
         "LLDP chassis 02:00:00:00:00:01 port eth0"},
        {"LACP",
         slow_at,
         ethernet("8809", lacpdu),
         &protocol_counters::lacp,
         {"\"actor_system\":\"02:00:00:00:00:01\",\"actor_system_priority\":32768,\"actor_key\":9",
          "\"actor_state\":61,\"actor_state_name\":\"Activity, Aggregation, Synchronization, Collecting, "
          "Distributing\"",
          "\"partner_key\":7"},
         "LACP actor key 9 state 0x3d"},
        {"QinQ",
         decode_ethernet,
         ethernet("88a8", "6064 8100 00c8 88b5 0000"),
         &protocol_counters::qinq,
         {"\"tags\":[{\"tpid\":34984,\"priority\":3,\"dei\":0,\"vlan_id\":100},"
          "{\"tpid\":33024,\"priority\":0,\"dei\":0,\"vlan_id\":200}]"},
         "802.1ad vlan 100,200"},
        {"STP",
         decode_ethernet,
         ieee8023_llc(config_bpdu),
         &protocol_counters::stp,
         {"\"stp\":{\"protocol\":0,\"version\":0",
          "\"root_priority\":32768,\"root_system_id\":0,"
          "\"root_mac\":\"00:00:00:00:00:01\",\"root_path_cost\":4",
          "\"port_id\":32769", "\"max_age\":20"},
         "STP root 32768/0/00:00:00:00:00:01"},
        {"MSTP",
         decode_ethernet,
         ieee8023_llc(mst_bpdu),
         &protocol_counters::stp,
         {"\"mst_config_name\":\"region1\"", "\"msti\":[{\"msti_id\":1,\"flags\":124"},
         "STP root 4096/1"},
    };
    for (const auto& c : cases) {
        test::reset({"statistic"});
        test::decode(c.decoder, c.frame, 14);
        EXPECT_EQ(counters.*c.counter, 1u) << c.name;

        test::reset({"json"});
        std::string line = test::decode_record(c.decoder, c.frame, 14);
        EXPECT_TRUE(test::valid_json(line)) << line;
        for (const char* key : c.keys)
            EXPECT_NE(line.find(key), std::string::npos) << c.name << ": " << key << "\n" << line;
        test::reset({"summary"});
        line = test::decode_record(c.decoder, c.frame, 14);
        EXPECT_NE(line.find(c.summary), std::string::npos) << line;

        for (size_t n = 0; n <= c.frame.size(); ++n) {
            test::reset({"json"});
            bytes part(c.frame.begin(), c.frame.begin() + static_cast<long>(n));
            line = test::decode_record(c.decoder, part, 14);
            EXPECT_TRUE(test::valid_json(line)) << c.name << " " << n << ": " << line;
        }
        for (auto flags : {std::initializer_list<const char*>{}, {"expand-all", "verbose"}}) {
            test::reset(flags);
            test::decode_all_prefixes(c.decoder, c.frame, 14);
        }
    }
}

TEST(LinkAdditions, HostileLengthsEndInBoundedTime) {
    struct {
        const char* name;
        link_decoder decoder;
        bytes frame;
    } cases[] = {
        // LLDP TLVs of length 0 (type 9) repeated: each still advances two bytes.
        {"LLDP zero-length TLVs", lldp_at, ethernet("88cc", std::string(2800, '0').replace(0, 4, "1200"))},
        {"LLDP length past the frame", lldp_at, ethernet("88cc", "0a ff 414141")},
        {"LACP TLV of length 1", slow_at, ethernet("8809", "0101 0101 00000000")},
        {"16 stacked tags", decode_ethernet,
         ethernet("88a8",
                  "0001 88a8 0002 88a8 0003 88a8 0004 88a8 0005 88a8 "
                  "0006 88a8 0007 88a8 0008 88a8 0009 88a8 000a 0800")},
    };
    for (const auto& c : cases) {
        test::reset({"expand-all", "json"});
        std::string line = test::decode_record(c.decoder, c.frame, 14);
        EXPECT_TRUE(test::valid_json(line)) << c.name << ": " << line;
        test::reset({"expand-all"});
        test::decode_all_prefixes(c.decoder, c.frame, 14);
    }
    test::reset({"expand-all"});
    std::string text = test::decode(decode_ethernet,
                                    ethernet("88a8",
                                             "0001 88a8 0002 88a8 0003 88a8 0004 88a8 0005 88a8 0006 88a8 "
                                             "0007 88a8 0008 88a8 0009 0800"),
                                    14);
    EXPECT_NE(text.find("  (more than 8 tags, not decoded)\n"), std::string::npos) << text;
}

// The peer decodes the same frames from a pcap file; the main fields agree.
// STP priorities: both give the 4-bit priority in steps of 4096 and the
// system id extension apart. LACP state: tshark writes hex, nodrix a number.
TEST(LinkAdditions, AgreesWithTshark) {
    if (!test::tshark_available()) GTEST_SKIP() << "tshark is not installed";
    test::temp_dir dir;
    std::string path = dir.file("l2.pcap");
    test::write_file(path, test::pcap_file({{ethernet("88cc", lldp_tlvs)},
                                            {ethernet("88cc", "0206 05 01 0a000001 0403 07 3132 0602 0e10 0000")},
                                            {ethernet("8809", lacpdu)},
                                            {ethernet("88a8", "6064 8100 00c8 88b5 0000")},
                                            {ieee8023_llc(config_bpdu)},
                                            {ieee8023_llc(mst_bpdu)}}));
    auto rows = test::tshark_fields(path, {"lldp.chassis.id", "lldp.port.id", "lldp.time_to_live", "stp.root.prio",
                                           "stp.root.ext", "stp.root.hw", "lacp.actor.key", "lacp.actor.state",
                                           "ieee8021ad.id", "vlan.id", "lldp.chassis.id.mac", "lldp.chassis.id.ip4"});
    std::vector<std::string> lines;
    for (const auto& line : test::nodrix_json_lines(path))
        if (line.rfind("{\"frame\":", 0) == 0) lines.push_back(line);
    ASSERT_EQ(rows.size(), 6u);
    ASSERT_EQ(lines.size(), 6u);
    for (int i : {0, 1}) {
        // tshark keeps MAC and IPv4 chassis ids in fields of their own.
        EXPECT_EQ(test::json_field(lines[i], "lldp", "chassis_id"), rows[i][0] + rows[i][10] + rows[i][11]);
        EXPECT_EQ(test::json_field(lines[i], "lldp", "port_id"), rows[i][1]) << lines[i];
        EXPECT_EQ(test::json_field(lines[i], "lldp", "ttl"), rows[i][2]) << lines[i];
    }
    EXPECT_EQ(test::json_field(lines[2], "lacp", "actor_key"), rows[2][6]);
    EXPECT_EQ(std::stoul(test::json_field(lines[2], "lacp", "actor_state")), std::stoul(rows[2][7], nullptr, 16));
    EXPECT_EQ(rows[3][8] + "," + rows[3][9], "100,200");
    EXPECT_NE(lines[3].find("\"vlan_id\":100},{\"tpid\":33024,\"priority\":0,\"dei\":0,\"vlan_id\":200}"),
              std::string::npos)
        << lines[3];
    for (int i : {4, 5}) {
        EXPECT_EQ(test::json_field(lines[i], "stp", "root_priority"), rows[i][3]) << lines[i];
        EXPECT_EQ(test::json_field(lines[i], "stp", "root_system_id"), rows[i][4]) << lines[i];
        EXPECT_EQ(test::json_field(lines[i], "stp", "root_mac"), rows[i][5]) << lines[i];
    }
}

}  // namespace
