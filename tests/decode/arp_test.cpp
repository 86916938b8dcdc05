#include "decode/link/arp.h"

#include <gtest/gtest.h>

#include "decode/decoder.h"
#include "decode/link/ethernet.h"
#include "support.h"

namespace {

// An Ethernet frame carrying the ARP bytes, decoded as the pcap source does.
test::bytes arp_frame(const std::string& arp) {
    return test::concat({test::hex("ffffffffffff 00000c010203 0806"), test::hex(arp)});
}
std::string decode_arp_frame(const std::string& arp) { return test::decode(decode_ethernet, arp_frame(arp), 14); }

const std::string head = "\n- Ethernet Header -\n- ARP Header -\n";
const std::string length_error = "  Error: Invalid length for Ethernet/IEEE 802.x networks\n";

TEST(Arp, AddressFormsNamesAndLengthCheck) {
    struct {
        std::string arp;
        bool verbose;
        std::string want;
    } cases[] = {
        {"0001 0800 06 04 0001 00000ce0a0b0 c0a80102 000000000000 c0a801fe", true,
         "  Hardware Type: 1 (Ethernet 10 Mbit/FDDI)\n  Protocol Type: 2048 (IPv4)\n  Hardware Len: 6, Protocol Len: "
         "4, Opcode: 1 (ARP request)\n  Sender Hardware Addr: 00:00:0c:e0:a0:b0 (Vendor: Cisco                         "
         ")\n  Sender Protocol Addr: 192.168.1.2\n  Target Hardware Addr: 00:00:00:00:00:00 (Type: Nothing set)\n  "
         "Target Protocol Addr: 192.168.1.254\n"},
        // Short hardware addresses get no vendor suffix; other protocols are not shown.
        {"0006 86dd 02 10 0003 e001 " + std::string(32, '1') + " 0a0b " + std::string(32, '2'), true,
         "  Hardware Type: 6 (ARCnet)\n  Protocol Type: 34525 (unknown)\n  Hardware Len: 2, Protocol Len: 16, Opcode: "
         "3 (Reverse ARP request)\n  Sender Hardware Addr: e0:01\n  Sender Protocol Addr: <Not implemented @ the "
         "moment>\n  Target Hardware Addr: 0a:0b\n  Target Protocol Addr: <Not implemented @ the moment>\n" +
             length_error},
        // Codes beyond the name tables.
        {"0015 0800 01 04 0018 ff 01020304 ee 05060708", true,
         "  Hardware Type: 21 (Unknown)\n  Protocol Type: 2048 (IPv4)\n  Hardware Len: 1, Protocol Len: 4, Opcode: 24 "
         "(Unknown)\n  Sender Hardware Addr: ff\n  Sender Protocol Addr: 1.2.3.4\n  Target Hardware Addr: ee\n  "
         "Target Protocol Addr: 5.6.7.8\n"},
        {"0001 0800 07 04 0017 01020304050607 0a000001 08090a0b0c0d0e 0a000002", false,
         "  Hardware Type: 1\n  Protocol Type: 2048\n  Hardware Len: 7, Protocol Len: 4, Opcode: 23\n  Sender "
         "Hardware Addr: 01:02:03:04:05:06:07\n  Sender Protocol Addr: 10.0.0.1\n  Target Hardware Addr: "
         "08:09:0a:0b:0c:0d:0e\n  Target Protocol Addr: 10.0.0.2\n" +
             length_error},
    };
    for (const auto& c : cases) {
        test::reset({"expand-arp", "statistic"});
        settings.verbose = c.verbose;
        EXPECT_EQ(decode_arp_frame(c.arp), head + c.want) << c.arp;
        bool error = c.want.find("Error") != std::string::npos;
        EXPECT_EQ(counters.arp_error, error ? 1u : 0u) << c.arp;
        EXPECT_EQ(counters.arp, 1u);
    }
}

TEST(Arp, CollapsedIsNeverJudgedButCounts) {
    test::reset({"statistic", "verbose"});
    auto rarp = test::hex("ffffffffffff 00000c010203 8035 0001 0800 02 04 0003");
    EXPECT_EQ(decode_arp_frame("0001 0800 02 04 0001"), head);
    EXPECT_EQ(test::decode(decode_ethernet, rarp, 14), head);
    EXPECT_EQ(counters.arp, 2u);
    EXPECT_EQ(counters.arp_error, 0u);
}

TEST(Arp, EveryPrefixStaysInsideTheFrame) {
    test::reset({"expand-all", "verbose", "statistic"});
    // The last one claims addresses far longer than the frame.
    for (const char* arp :
         {"0001 0800 06 04 0001 00000ce0a0b0 c0a80102 000000000000 c0a801fe",
          "0006 86dd 02 10 0003 e001 00112233445566778899aabbccddeeff 0a0b", "0001 0800 ff ff 0001 00"})
        EXPECT_GT(test::decode_all_prefixes(decode_ethernet, arp_frame(arp), 14), 0) << arp;
}

}  // namespace
