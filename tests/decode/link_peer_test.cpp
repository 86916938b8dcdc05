// The link-layer mends against tshark: QoS data with and without HT
// Control, radiotap frames that end with their FCS, PPP with a compressed
// protocol field and SLARP. Every field both decoders show must agree.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "peer.h"
#include "support.h"

namespace {

using test::bytes;
using test::hex;

const std::string udp = "45000020 00010000 4011e7cb 0a000001 0a000002 3039 270f 000c 0000 61626364";
const std::string snap_udp = "aaaa03 000000 0800" + udp;
const std::string addresses = "020000000003 020000000001 020000000002";

// A field of both decoders: tshark's name, nodrix's layer and key.
struct pair {
    const char* tshark;
    const char* proto;
    const char* key;
};

// Numbers may come as hex from one side and decimal from the other.
std::string normal(const std::string& value) {
    if (value.empty()) return value;
    char* end = nullptr;
    unsigned long long n = std::strtoull(value.c_str(), &end, 0);
    return *end == '\0' ? std::to_string(n) : value;
}

// The FCS: tshark reads the four bytes as a little-endian number, nodrix
// shows them in the order they were sent (like the FCS lines of 802.11
// control frames).
std::string swapped32(const std::string& value) {
    if (value.empty()) return value;
    unsigned long v = std::stoul(value, nullptr, 0);
    unsigned long s = (v & 0xff) << 24 | (v & 0xff00) << 8 | (v >> 8 & 0xff00) | (v >> 24 & 0xff);
    return std::to_string(s);
}

// tshark's fields, read in a grandchild that nobody waits for: a memory
// test elsewhere reads the peak resident set of every child this process
// has waited for, and tshark's peak would count as its.
std::vector<std::vector<std::string>> tshark_rows(const std::string& pcap, const std::vector<std::string>& names) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    pid_t child = fork();
    if (child == 0) {
        if (fork() == 0) {
            close(fds[0]);
            std::string out;
            for (const auto& row : test::tshark_fields(pcap, names)) {
                for (const auto& value : row) out += value + '\t';
                out += '\n';
            }
            for (size_t done = 0; done < out.size();) {
                ssize_t n = write(fds[1], out.data() + done, out.size() - done);
                if (n <= 0) break;
                done += static_cast<size_t>(n);
            }
            _exit(0);
        }
        _exit(0);
    }
    close(fds[1]);
    if (child > 0) waitpid(child, nullptr, 0);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    std::vector<std::vector<std::string>> rows;
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        std::vector<std::string> row;
        for (size_t at = start, tab; (tab = text.find('\t', at)) < end; at = tab + 1)
            row.push_back(text.substr(at, tab - at));
        rows.push_back(row);
    }
    return rows;
}

void compare(const std::vector<bytes>& frames, uint32_t link_type, const std::vector<pair>& fields,
             bool fcs_swapped = false) {
    test::temp_dir dir;
    std::vector<test::pcap_record> records;
    for (const auto& f : frames) records.push_back({f});
    std::string pcap = dir.file("frames.pcap");
    test::write_file(pcap, test::pcap_file(records, link_type));

    std::vector<std::string> names;
    for (const auto& f : fields) names.push_back(f.tshark);
    auto rows = tshark_rows(pcap, names);
    auto lines = test::nodrix_json_lines(pcap);
    ASSERT_EQ(rows.size(), frames.size());
    ASSERT_GE(lines.size(), frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        for (size_t k = 0; k < fields.size(); ++k) {
            std::string theirs = rows[i][k];
            // Only the first occurrence: tshark lists inner headers too.
            theirs = theirs.substr(0, theirs.find(','));
            std::string ours = test::json_field(lines[i], fields[k].proto, fields[k].key);
            bool fcs = std::string(fields[k].key) == "fcs";
            EXPECT_EQ(normal(ours), fcs && fcs_swapped ? swapped32(theirs) : normal(theirs))
                << "frame " << i + 1 << " " << fields[k].tshark << "\n"
                << lines[i];
        }
    }
}

bool peer_missing() { return !test::tshark_available(); }

TEST(LinkPeer, QosDataWithAndWithoutHtControl) {
    if (peer_missing()) GTEST_SKIP() << "tshark is not installed";
    std::vector<bytes> frames = {
        hex("8801 2c00" + addresses + "2000 0500" + snap_udp),
        hex("8881 2c00" + addresses + "3000 0700 0c000080" + snap_udp),
        hex("8803 2c00" + addresses + "4000 020000000004 0300" + snap_udp),
        hex("8802 2c00" + addresses + "5000 0600" + snap_udp),
        hex("0802 2c00" + addresses + "6000" + snap_udp),
    };
    compare(frames, 105,
            {{"wlan.seq", "ieee80211", "sequence"},
             {"wlan.qos.tid", "ieee80211", "tid"},
             {"wlan.htc", "ieee80211", "ht_control"},
             {"wlan.sa", "ieee80211", "sa"},
             {"wlan.da", "ieee80211", "da"},
             {"llc.dsap", "llc", "dsap"},
             {"llc.type", "llc", "type"},
             {"ip.src", "ipv4", "src"},
             {"ip.dst", "ipv4", "dst"},
             {"udp.srcport", "udp", "src_port"},
             {"udp.length", "udp", "length"}});
}

TEST(LinkPeer, RadiotapFramesThatEndWithTheirFcs) {
    if (peer_missing()) GTEST_SKIP() << "tshark is not installed";
    // Radiotap with the flags field, 0x10: the frame ends with its FCS.
    const std::string with_fcs = "0000 0900 02000000 10";
    std::vector<bytes> frames = {
        hex(with_fcs + "8801 2c00" + addresses + "2000 0500" + snap_udp + "0a0b0c0d"),
        hex(with_fcs + "4801 2c00" + addresses + "3000" + "11223344"),
        hex(with_fcs + "0802 2c00" + addresses + "4000" + snap_udp + "deadbeef"),
        hex(with_fcs + "c801 2c00" + addresses + "5000 0000" + "01020304"),
    };
    compare(frames, 127,
            {{"wlan.fcs", "radiotap", "fcs"},
             {"wlan.seq", "ieee80211", "sequence"},
             {"wlan.qos.tid", "ieee80211", "tid"},
             {"llc.dsap", "llc", "dsap"},
             {"llc.type", "llc", "type"},
             {"ip.src", "ipv4", "src"},
             {"udp.length", "udp", "length"}},
            true);
}

TEST(LinkPeer, PppCompressedProtocolAndSlarp) {
    if (peer_missing()) GTEST_SKIP() << "tshark is not installed";
    compare({hex("ff03 21" + udp), hex("ff03 0021" + udp)}, 9,
            {{"ppp.protocol", "ppp", "protocol"}, {"ip.src", "ipv4", "src"}, {"udp.dstport", "udp", "dst_port"}});
    compare({hex("8f00 8035 00000000 00000000 00000000 0000"), hex("8f00 8035 00000001 0a010101 fffffffc 0000"),
             hex("8f00 8035 00000002 00000005 00000004 ffff")},
            104,
            {{"slarp.ptype", "slarp", "code"},
             {"slarp.address", "slarp", "address"},
             {"slarp.netmask", "slarp", "mask"},
             {"slarp.mysequence", "slarp", "my_sequence"},
             {"slarp.yoursequence", "slarp", "your_sequence"},
             {"slarp.reliability", "slarp", "reliability"}});
}

}  // namespace
