// The link-type, IGMPv3, ICMP-quote, DUID and application decoders against
// tshark: every field both show must agree on the frames built here.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "app_frames.h"
#include "peer.h"

namespace {

using test::bytes;
using test::hex;

bytes text(const std::string& s) { return bytes(s.begin(), s.end()); }

// Numbers may come as hex from one side and decimal from the other.
std::string normal(const std::string& value) {
    if (value.empty()) return value;
    char* end = nullptr;
    unsigned long long n = std::strtoull(value.c_str(), &end, 0);
    return *end == '\0' ? std::to_string(n) : value;
}

// The first value of key inside the n-th layer of proto; "records/group"
// is the key inside the first item of the array "records".
std::string value_in_layer(const std::string& line, const std::string& proto, const std::string& key, int n) {
    size_t slash = key.find('/');
    if (slash == std::string::npos) return test::json_field(line, proto, key, n);
    std::string layer = test::json_layer(line, proto, n);
    size_t array = layer.find("\"" + key.substr(0, slash) + "\":[{");
    if (array == std::string::npos) return "";
    // The array's first item handed to json_field as a layer of its own.
    return test::json_field("{\"x\":" + layer.substr(array + slash + 4) + "}", "x", key.substr(slash + 1));
}

// A TCP segment of its own connection (a new source port each), so that
// tshark sees no retransmissions.
bytes tcp_frame(const bytes& payload, uint16_t server_port, bool from_server) {
    static uint16_t next_port = 41000;
    bytes segment = ipf::tcp(0x18, payload);
    uint16_t client = next_port++;
    test::put_be16(segment, 0, from_server ? server_port : client);
    test::put_be16(segment, 2, from_server ? client : server_port);
    segment[16] = segment[17] = 0;
    return ipf::ethernet(0x0800, ipf::ipv4(6, ipf::with_transport_checksum(segment, 6, 16)));
}

struct pair {
    const char* tshark;
    const char* proto;
    const char* key;
    int layer = 0;  // which layer of that proto (0: the outermost)
};

void compare(const std::vector<test::pcap_record>& frames, uint32_t link_type, const std::vector<pair>& pairs) {
    test::temp_dir dir;
    std::string pcap = dir.file("peer.pcap");
    test::write_file(pcap, test::pcap_file(frames, link_type));
    std::vector<std::string> lines = test::nodrix_json_lines(pcap);
    ASSERT_EQ(lines.size(), frames.size());
    for (const auto& p : pairs) {
        auto rows = test::tshark_fields(pcap, {p.tshark});
        ASSERT_EQ(rows.size(), frames.size()) << p.tshark;
        unsigned compared = 0;
        for (size_t i = 0; i < rows.size(); ++i) {
            std::string theirs = rows[i].empty() ? "" : rows[i][0];
            if (theirs.empty()) continue;
            theirs = normal(theirs.substr(0, theirs.find(',')));
            std::string ours = normal(value_in_layer(lines[i], p.proto, p.key, p.layer));
            EXPECT_EQ(ours, theirs) << p.tshark << " frame " << i + 1 << "\n" << lines[i];
            ++compared;
        }
        EXPECT_GT(compared, 0u) << p.tshark << ": tshark showed no value";
    }
}

TEST(ProtocolsPeer, CookedVersion2) {
    if (!test::tshark_available()) GTEST_SKIP() << "tshark is not installed";
    const std::string udp = "45000020 00010000 4011e7cb 0a000001 0a000002 3039 270f 000c 0000 61626364";
    compare({{hex("0800 0000 00000003 0001 04 06 020000000001 0000" + udp)},
             {hex("0800 0000 00000007 0001 00 06 020000000009 0000" + udp)}},
            276,
            {{"sll.ifindex", "linux_cooked", "interface_index"},
             {"sll.pkttype", "linux_cooked", "packet_type"},
             {"sll.hatype", "linux_cooked", "hardware_type"},
             {"sll.etype", "linux_cooked", "protocol"},
             {"sll.src.eth", "linux_cooked", "address"}});
}

TEST(ProtocolsPeer, IgmpAndIcmpQuotes) {
    if (!test::tshark_available()) GTEST_SKIP() << "tshark is not installed";
    auto igmp = [](uint8_t type, uint8_t code, const std::string& rest) {
        return ipf::ethernet(0x0800, ipf::ipv4(2, ipf::icmp(type, code, hex(rest))));
    };
    compare({{igmp(0x11, 100, "ef010101 0a 7d 0002 0a000001 0a000002")}}, 1,
            {{"igmp.qrv", "igmp", "qrv"}, {"igmp.qqic", "igmp", "qqic"}, {"igmp.num_src", "igmp", "source_count"}});
    // The first record's fields; the message's own type and (reserved)
    // group come first in the layer.
    compare({{igmp(0x22, 0, "0000 0002 04 00 0000 ef090909 01 00 0001 ef020202 0a010101")}}, 1,
            {{"igmp.num_grp_recs", "igmp", "record_count"},
             {"igmp.num_src", "igmp", "sources"},
             {"igmp.maddr", "igmp", "records/group"},
             {"igmp.record_type", "igmp", "records/type"}});
    bytes quote = ipf::ipv4(17, ipf::udp(text("probe-data"), 40001, 33434));
    bytes echo = ipf::ipv4(1, ipf::icmp(8, 0, hex("1a2b 0005 61626364")));
    compare({{ipf::ethernet(0x0800, ipf::ipv4(1, ipf::icmp(3, 3, test::concat({hex("00000000"), quote}))))},
             {ipf::ethernet(0x0800, ipf::ipv4(1, ipf::icmp(11, 0, test::concat({hex("00000000"), echo}))))}},
            1,
            {{"udp.dstport", "icmp_quote", "dst_port"},
             {"udp.length", "icmp_quote", "udp_length"},
             {"icmp.ident", "icmp_quote", "icmp_identifier"}});
}

TEST(ProtocolsPeer, Dhcpv6Duids) {
    if (!test::tshark_available()) GTEST_SKIP() << "tshark is not installed";
    auto reply = [](const std::string& options) { return appf::udp6(hex("07 123456" + options), 547, 546); };
    compare({{reply("0002 000e 0001 0001 32aaadc0 020000000002")},
             {reply("0001 000a 0002 00000009 0c0a0b0c")},
             {reply("0001 000a 0003 0001 020000000001")}},
            1,
            {{"dhcpv6.duidllt.link_layer_addr", "dhcpv6", "duid_link_address"},
             {"dhcpv6.duidllt.hwtype", "dhcpv6", "duid_hardware_type"},
             {"dhcpv6.duiden.enterprise", "dhcpv6", "duid_enterprise"},
             {"dhcpv6.duidll.link_layer_addr", "dhcpv6", "duid_link_address"}});
}

TEST(ProtocolsPeer, TextProtocols) {
    if (!test::tshark_available()) GTEST_SKIP() << "tshark is not installed";
    const std::string invite =
        "INVITE sip:bob@example.org SIP/2.0\r\nVia: SIP/2.0/UDP 192.0.2.10:5060;branch=z9hG4bK1\r\n"
        "From: <sip:alice@example.com>;tag=1\r\nTo: <sip:bob@example.org>\r\nCall-ID: abc@pc33\r\n"
        "CSeq: 1 INVITE\r\nContent-Type: application/sdp\r\nContent-Length: 52\r\n\r\n"
        "v=0\r\nc=IN IP4 192.0.2.10\r\nm=audio 49170 RTP/AVP 0\r\n\r\n";
    compare({{tcp_frame(text("227 Entering Passive Mode (192,168,1,2,19,137).\r\n"), 21, true)},
             {tcp_frame(text("PORT 10,0,0,1,4,1\r\n"), 21, false)},
             {tcp_frame(text("RETR file.txt\r\n"), 21, false)},
             {appf::udp4(text(invite), 40001, 5060)},
             {appf::udp4(text("SIP/2.0 200 OK\r\nCall-ID: abc@pc33\r\nCSeq: 1 INVITE\r\nContent-Length: 0\r\n\r\n"),
                         5060, 40001)}},
            1,
            {{"ftp.response.code", "ftp", "reply"},
             {"ftp.passive.ip", "ftp", "data_address"},
             {"ftp.passive.port", "ftp", "data_port"},
             {"ftp.active.cip", "ftp", "data_address"},
             {"ftp.active.port", "ftp", "data_port"},
             {"ftp.request.command", "ftp", "command"},
             {"sip.Method", "sip", "method"},
             {"sip.Status-Code", "sip", "status"},
             {"sip.Call-ID", "sip", "call_id"},
             {"sdp.media.port", "sdp", "port"}});
}

TEST(ProtocolsPeer, BinaryProtocols) {
    if (!test::tshark_available()) GTEST_SKIP() << "tshark is not installed";
    compare({{tcp_frame(hex("10 15 0004 4d515454 04 02 003c 0009 73656e736f722d3031"), 1883, false)},
             {tcp_frame(hex("32 0f 0009 686f6d652f74656d70 0001 3231"), 1883, false)},
             {appf::udp4(hex("01 2a 0027 00112233445566778899aabbccddeeff 0107616c696365 0406c0000201 050600000007"),
                         40001, 1812)},
             {appf::udp4(hex("0001 626f6f742e696d6700 6f6374657400"), 40001, 69)},
             {appf::udp4(hex("20 c0 03 18 00000001 00000002 000f4240 000f4240 00000000"), 49152, 3784)}},
            1,
            {{"mqtt.msgtype", "mqtt", "type"},
             {"mqtt.clientid", "mqtt", "client_id"},
             {"mqtt.topic", "mqtt", "topic"},
             {"radius.code", "radius", "code"},
             {"radius.id", "radius", "identifier"},
             {"radius.length", "radius", "length"},
             {"tftp.opcode", "tftp", "opcode"},
             {"tftp.source_file", "tftp", "file"},
             {"tftp.type", "tftp", "mode"},
             {"bfd.sta", "bfd", "state"},
             {"bfd.my_discriminator", "bfd", "my_discriminator"},
             {"bfd.detect_time_multiplier", "bfd", "detect_mult"}});
}

}  // namespace
