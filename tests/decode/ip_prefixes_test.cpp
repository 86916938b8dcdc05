// Every prefix of representative IP frames decodes without reading past the
// captured bytes (run under the sanitizer build).
#include <gtest/gtest.h>

#include "decode/decoder.h"
#include "ip_frames.h"

namespace {

using test::bytes;
using test::hex;

struct sample {
    const char* name;
    bytes frame;
    bool ethernet;
};

std::vector<sample> samples() {
    bytes tcp_options = hex("020405b4 0402 080a0012d68700000000 01 030307 050a0000000100000002 0e0301 000000");
    return {
        {"tcp with options", ipf::ethernet(0x0800, ipf::ipv4(6, ipf::tcp(0x18, hex("414243"), tcp_options))), true},
        {"tcp bad offset", [] {
             bytes s = ipf::tcp(0x18, hex("41424344"));
             s[12] = 0x20;
             return ipf::ipv4(6, s);
         }(),
         false},
        {"udp behind ip options", ipf::ipv4(17, ipf::udp(hex("0102030405")), hex("0107 07 0000000000 94040000")),
         false},
        {"icmp timestamp", ipf::ipv4(1, ipf::icmp(13, 0, hex("0001 0002 00000064 00000065 00000066"))), false},
        {"icmp redirect", ipf::ipv4(1, ipf::icmp(5, 1, hex("0a000001 45000000"))), false},
        {"icmp domain name reply", ipf::ipv4(1, ipf::icmp(38, 0, hex("0001 0002 00000e10"))), false},
        {"icmp security", ipf::ipv4(1, ipf::icmp(40, 1, hex("0000 0008"))), false},
        {"sctp", ipf::ipv4(132, hex("0050 1f90 deadbeef 01020304 0001")), false},
        {"ipv6 extension chain",
         ipf::ethernet(0x86dd, ipf::ipv6(0, test::concat({hex("2b00 0000 00000000 0600 0001 00000000"),
                                                            ipf::tcp(0x10, hex("61"))}))),
         true},
        {"ipv6 udp", ipf::ipv6(17, ipf::udp(hex("6162"))), false},
        {"ipv6 in ipv4", ipf::ipv4(41, ipf::ipv6(6, ipf::tcp(0x02, {}, hex("01010101")))), false},
        {"ipv4 in ipv4", ipf::ipv4(4, ipf::ipv4(17, ipf::udp(hex("61")))), false},
        {"later fragment", [] {
             bytes p = ipf::ipv4(6, ipf::tcp(0x18, hex("61")));
             p[7] = 0x10;
             return p;
         }(),
         false},
        {"ipv7", hex("77 02 0040 00000000 0102030405060708 1112131415161718 2122232425262728 0006 abcd"), false},
    };
}

TEST(IpPrefixes, NoReadPastTheCapturedBytes) {
    const std::initializer_list<const char*> flag_sets[] = {
        {},
        {"verbose", "calc-checksums", "statistic"},
        {"print-ip-hex"},
        {"print-tcp-hex", "print-udp-text", "print-tcp-stream"},
        {"print-tcp-text", "print-udp-hex", "verbose"},
    };
    for (const auto& flags : flag_sets) {
        for (const sample& s : samples()) {
            test::reset(flags);
            int markers = s.ethernet ? test::decode_all_prefixes(decode_ethernet, s.frame, 14)
                                     : test::decode_all_prefixes(decode_ip_version, s.frame, 0);
            EXPECT_GT(markers, 0) << s.name;
        }
    }
}

}  // namespace
