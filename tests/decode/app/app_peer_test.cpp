// Frames that real programs produce (scapy's builders, a python DNS
// exchange on loopback) compared with tshark's view of the same fields.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include "peer.h"
#include "support.h"

namespace {

const char* const scapy_frames = R"(
from scapy.all import *
from scapy.layers.dhcp6 import *
import sys
E = lambda: Ether(src="02:00:00:00:00:01", dst="02:00:00:00:00:02")
mac = bytes.fromhex("020000000001") + b"\0" * 10
t = 3913056000
p = [
 E()/IP(src="0.0.0.0", dst="255.255.255.255")/UDP(sport=68, dport=67)/BOOTP(chaddr=mac, xid=0x3903f326)/
   DHCP(options=[("message-type", "discover"), ("requested_addr", "192.0.2.100"), ("hostname", "laptop"),
                 ("param_req_list", [1, 3, 6, 15]), "end"]),
 E()/IP(src="192.0.2.1", dst="192.0.2.100")/UDP(sport=67, dport=68)/BOOTP(op=2, yiaddr="192.0.2.100", siaddr="192.0.2.1", chaddr=mac, xid=0x3903f326)/
   DHCP(options=[("message-type", "offer"), ("server_id", "192.0.2.1"), ("lease_time", 3600), ("router", "192.0.2.1"),
                 ("name_server", "192.0.2.53", "192.0.2.54"), "end"]),
 E()/IP(src="192.0.2.123", dst="192.0.2.10")/UDP(sport=123, dport=123)/NTP(version=4, mode=4, stratum=2, poll=6, precision=-23,
   id="192.0.2.200", ref=t - 10, orig=t + 0.5, recv=t + 0.75, sent=t + 0.8125),
 E()/IP(src="192.0.2.161", dst="192.0.2.10")/UDP(sport=161, dport=40001)/SNMP(version=1, community="public", PDU=SNMPresponse(id=1234,
   varbindlist=[SNMPvarbind(oid=ASN1_OID("1.3.6.1.2.1.1.1.0"), value=ASN1_STRING(b"Linux box")),
                SNMPvarbind(oid=ASN1_OID("1.3.6.1.2.1.1.3.0"), value=ASN1_TIME_TICKS(123456))])),
 E()/IP(src="192.0.2.53", dst="192.0.2.10")/UDP(sport=53, dport=40000)/DNS(id=0x1234, qr=1, rd=1, ra=1,
   qd=DNSQR(qname="example.org", qtype="A"),
   an=DNSRR(rrname="example.org", type="A", ttl=300, rdata="192.0.2.1")/DNSRR(rrname="www.example.org", type="CNAME", rdata="example.org")),
 E()/IPv6(src="fe80::2", dst="fe80::1")/UDP(sport=547, dport=546)/DHCP6_Reply(trid=0x123456)/
   DHCP6OptServerId(duid=DUID_LL(lladdr="02:00:00:00:00:02"))/
   DHCP6OptIA_NA(iaid=1, T1=1800, T2=2880, ianaopts=[DHCP6OptIAAddress(addr="2001:db8::100", preflft=3600, validlft=7200)])/
   DHCP6OptDNSServers(dnsservers=["2001:db8::53"]),
 E()/IP(src="192.0.2.10", dst="192.0.2.20")/UDP(sport=40000, dport=514)/Raw(b"<34>Oct 11 22:14:15 mymachine su: failed"),
]
wrpcap(sys.argv[1] if len(sys.argv) > 1 else "OUT", p)
)";

std::string write_scapy_pcap(const test::temp_dir& dir) {
    std::string pcap = dir.file("app.pcap");
    std::string script = scapy_frames;
    script.replace(script.find("\"OUT\""), 5, "\"" + pcap + "\"");
    return test::run_python(script) ? pcap : "";
}

TEST(AppPeer, ScapyFramesDecodeAsWritten) {
    if (!test::scapy_available()) GTEST_SKIP() << "python3 has no scapy";
    test::temp_dir dir;
    std::string pcap = write_scapy_pcap(dir);
    ASSERT_FALSE(pcap.empty());
    test::run_result r = test::run_nodrix({"-P", pcap});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* part : {
             "- DHCP Header -\n  Op: 1, Transaction ID: 0x3903f326\n  Client IP: 0.0.0.0, Your IP: 0.0.0.0\n"
             "  Server IP: 0.0.0.0, Relay IP: 0.0.0.0\n  Client hardware address: 02:00:00:00:00:01\n"
             "  Option: 53, Length: 1, Message type: 1\n  Option: 50, Length: 4, Address: 192.0.2.100\n"
             "  Option: 12, Length: 6, Text: \"laptop\"\n  Option: 55, Length: 4, Codes: 1, 3, 6, 15\n",
             "  Option: 6, Length: 8, Addresses: 192.0.2.53, 192.0.2.54\n",
             "- NTP Header -\n  Leap: 0, Version: 4, Mode: 4\n  Stratum: 2, Poll: 6, Precision: -23\n"
             "  Transmit time: 2024-01-01 00:00:00.812500 UTC\n",
             "- SNMP Header -\n  Version: 1, Community: \"public\"\n  PDU: 2, Request ID: 1234\n"
             "  Binding: 1.3.6.1.2.1.1.1.0, STRING: \"Linux box\"\n  Binding: 1.3.6.1.2.1.1.3.0, TimeTicks: 123456\n",
             "  Answer: example.org, Type: 1\n    Address: 192.0.2.1\n  Answer: www.example.org, Type: 5\n"
             "    Name: example.org\n",
             "  Option: 3, Length: 40, IAID: 0x00000001, T1: 1800, T2: 2880\n"
             "    Option: 5, Length: 24, Address: 2001:db8::100, Preferred: 3600, Valid: 7200\n",
             "- Syslog Message -\n  Priority: 34, Facility: 4, Severity: 2\n"
             "  Message: \"Oct 11 22:14:15 mymachine su: failed\"\n",
         })
        EXPECT_NE(r.out.find(part), std::string::npos) << part << "\n" << r.out;
}

// The same field from both decoders, frame by frame (only frames where
// tshark finds the field).
struct comparison {
    const char* tshark_field;
    const char* proto;
    const char* key;
    // tshark writes some values its own way: precision as the unsigned
    // byte, the reference id as hex.
    std::string (*theirs_as_ours)(const std::string&) = nullptr;
};

std::string signed_byte(const std::string& v) { return std::to_string(static_cast<int8_t>(std::stoi(v))); }

std::string hex_address(const std::string& v) {
    unsigned long a = std::stoul(v, nullptr, 16);
    return std::to_string(a >> 24) + "." + std::to_string(a >> 16 & 255) + "." + std::to_string(a >> 8 & 255) + "." +
           std::to_string(a & 255);
}

// The first value of key anywhere in the layer (records and options
// included), as text; the first element of a list.
std::string nested_field(const std::string& line, const std::string& proto, const std::string& key) {
    size_t start = line.find("\"" + proto + "\":{");
    if (start == std::string::npos) return "";
    // The layer object ends where the next top-level member starts.
    int depth = 0;
    size_t end = start + proto.size() + 3;
    for (bool text = false; end < line.size(); ++end) {
        char c = line[end];
        if (text) {
            if (c == '\\')
                ++end;
            else if (c == '"')
                text = false;
        } else if (c == '"') {
            text = true;
        } else if (c == '{' || c == '[') {
            ++depth;
        } else if ((c == '}' || c == ']') && --depth < 0) {
            break;
        }
    }
    size_t at = line.find("\"" + key + "\":", start + 1);
    if (at == std::string::npos || at > end) return "";
    at += key.size() + 3;
    if (line[at] == '[') ++at;
    if (line[at] == '"') return line.substr(at + 1, line.find('"', at + 1) - at - 1);
    return line.substr(at, line.find_first_of(",}]", at) - at);
}

TEST(AppPeer, FieldsAgreeWithTshark) {
    if (!test::scapy_available()) GTEST_SKIP() << "python3 has no scapy";
    if (!test::tshark_available()) GTEST_SKIP() << "tshark is not installed";
    test::temp_dir dir;
    std::string pcap = write_scapy_pcap(dir);
    ASSERT_FALSE(pcap.empty());
    std::vector<std::string> lines = test::nodrix_json_lines(pcap);
    const comparison fields[] = {
        {"dhcp.option.dhcp", "dhcp", "message_type"},
        {"dhcp.hw.mac_addr", "dhcp", "client_mac"},
        {"dhcp.ip.your", "dhcp", "your_ip"},
        {"dhcp.ip.server", "dhcp", "server_ip"},
        {"dhcp.option.requested_ip_address", "dhcp", "addresses"},
        {"ntp.stratum", "ntp", "stratum"},
        {"ntp.ppoll", "ntp", "poll"},
        {"ntp.precision", "ntp", "precision", signed_byte},
        {"ntp.refid", "ntp", "reference_id", hex_address},
        {"snmp.name", "snmp", "oid"},
        {"snmp.community", "snmp", "community"},
        {"dns.qry.name", "dns", "name"},
        {"dns.a", "dns", "address"},
        {"dns.cname", "dns", "target"},
        {"dhcpv6.msgtype", "dhcpv6", "msg_type"},
        {"dhcpv6.iaaddr.ip", "dhcpv6", "address"},
        {"syslog.facility", "syslog", "facility"},
        {"syslog.level", "syslog", "severity"},
    };
    for (const auto& f : fields) {
        auto rows = test::tshark_fields(pcap, {f.tshark_field});
        ASSERT_EQ(rows.size(), lines.size()) << f.tshark_field;
        for (size_t i = 0; i < rows.size(); ++i) {
            std::string theirs = rows[i].empty() ? "" : rows[i][0];
            if (theirs.empty()) continue;
            // tshark lists every occurrence; nodrix's first one (or its list) must be the first.
            std::string first = theirs.substr(0, theirs.find(','));
            if (f.theirs_as_ours) first = f.theirs_as_ours(first);
            std::string ours = nested_field(lines[i], f.proto, f.key);
            EXPECT_EQ(ours, first) << f.tshark_field << " frame " << i + 1 << "\n" << lines[i];
        }
    }
}

// A python resolver on 127.0.0.1:53 answers a python client while nodrix
// captures the exchange.
TEST(AppPeer, LoopbackDnsExchange) {
    if (!test::running_as_root()) GTEST_SKIP() << "live capture needs root";
    auto child = test::start_nodrix({"-d", "lo", "--max-packets", "2", "-f", "udp port 53 and host 127.0.0.1"});
    ASSERT_TRUE(test::wait_for_capture_start(child));
    bool exchanged = test::run_python(R"(
import socket, struct, sys
server = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
try:
    server.bind(("127.0.0.1", 53))
except OSError:
    sys.exit(1)
client = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
client.settimeout(5)
name = b"\x07example\x03org\x00"
client.sendto(struct.pack(">6H", 0x4242, 0x0100, 1, 0, 0, 0) + name + struct.pack(">HH", 1, 1), ("127.0.0.1", 53))
query, peer = server.recvfrom(512)
answer = struct.pack(">HHHIH", 0xc00c, 1, 1, 300, 4) + bytes([192, 0, 2, 1])
server.sendto(struct.pack(">6H", 0x4242, 0x8180, 1, 1, 0, 0) + query[12:] + answer, peer)
client.recvfrom(512)
)");
    if (!exchanged) {
        kill(child.pid, SIGINT);
        test::finish_nodrix(child, 20);
        GTEST_SKIP() << "127.0.0.1:53 is taken";
    }
    test::run_result r = test::finish_nodrix(child, 20);
    EXPECT_NE(r.out.find("- DNS Header -\n  Transaction ID: 0x4242, Query, Opcode: 0, Rcode: 0\n"
                         "  Questions: 1, Answers: 0, Authority: 0, Additional: 0\n"
                         "  Question: example.org, Type: 1\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("- DNS Header -\n  Transaction ID: 0x4242, Response, Opcode: 0, Rcode: 0\n"
                         "  Questions: 1, Answers: 1, Authority: 0, Additional: 0\n"
                         "  Question: example.org, Type: 1\n"
                         "  Answer: example.org, Type: 1\n    Address: 192.0.2.1\n"),
              std::string::npos)
        << r.out;
}

}  // namespace
