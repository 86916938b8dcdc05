#include "decode/link/cisco.h"

#include <gtest/gtest.h>

#include "decode/decoder.h"
#include "decode/link/ethernet.h"
#include "support.h"

namespace {

using test::bytes;
using test::hex;

// An 802.3 frame with LLC/SNAP and the Cisco OUI; the length field covers
// the SNAP header and the message unless given.
bytes cisco_snap(const char* type, const bytes& message, long length = -1) {
    bytes frame = test::concat({hex("01000ccccccc 00000c123456 0000 aaaa03 00000c"), hex(type), message});
    test::put_be16(frame, 12, static_cast<uint16_t>(length < 0 ? 8 + message.size() : length));
    return frame;
}

const std::string cdp_head =
    "\n- Ethernet Header -\n- LLC Header -\n- CDP Header -\n  Version: 2, TTL: 180s\n"
    "  Checksum: 0xb1e2\n";

std::string cdp(const char* tlvs, std::initializer_list<const char*> flags = {"statistic"}) {
    test::reset(flags);
    return test::decode(decode_ethernet, cisco_snap("2000", test::concat({hex("02b4 b1e2"), hex(tlvs)})), 14);
}

TEST(Cdp, CapabilitiesUnderVerbose) {
    EXPECT_EQ(cdp("0004 0008 00000029", {"verbose"}),
              cdp_head +
                  "  Type: 4 (Capabilities)\n  Capabilities: 0x29"
                  "\n  - 0x01 is set(Performs level 3 routing)"
                  "\n  - 0x02 isn't set(Doesn't perform level 2 transparent bridging)"
                  "\n  - 0x04 isn't set(Doesn't perform level 2 source-route bridging)"
                  "\n  - 0x08 is set(Performs level 2 switching)"
                  "\n  - 0x10 isn't set(Doesn't send or receive packets for network-layer protocols)"
                  "\n  - 0x20 is set(Doesn't forward IGMP Report packets on nonrouter ports)"
                  "\n  - 0x40 isn't set(Doesn't provide level 1 functionality)"
                  "\n  Total length: 8\n");
    EXPECT_EQ(cdp("0004 0008 00000029"), cdp_head + "  Type: 4\n  Capabilities: 0x29\n  Total length: 8\n");
}

TEST(Cdp, MalformedTlvsEndThePacketAndCount) {
    struct {
        const char* why;
        const char* tlvs;
        std::string shown;
    } cases[] = {
        {"prefix list not a multiple of 5", "0007 000d 0a000000 08 c0a80100", "  Type: 7\n  IPv4 Prefixes(1):"},
        {"TLV running past the frame", "0001 0006 5231 0003 0010 4661",
         "  Type: 1\n  Device ID: \"R1\"\n"
         "  Total length: 6\n"},
        {"length shorter than the TLV header", "0001 0002 0003 0006 4661", ""},
        {"TLV header cut by the frame end", "0001 0006 5231 00",
         "  Type: 1\n  Device ID: \"R1\"\n"
         "  Total length: 6\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cdp(c.tlvs), cdp_head + c.shown) << c.why;
        EXPECT_EQ(counters.cdp_short, 1u) << c.why;
        EXPECT_EQ(counters.cdp, 1u) << c.why;
    }
}

TEST(Cdp, TextValuesStopAtZeroAndUseTheCharacterRule) {
    EXPECT_EQ(cdp("0003 000b 4769 1b5b32 4a00"), cdp_head + "  Type: 3\n  Port ID: \"Gi.[2J\"\n  Total length: 11\n");
    EXPECT_EQ(counters.cdp_short, 0u);
    EXPECT_EQ(counters.cdp, 1u);
}

TEST(Cdp, AreaEndsWithThe8023Length) {
    // Two TLVs in the frame, but the length field covers only the first.
    test::reset();
    bytes message = test::concat({hex("02b4 b1e2"), hex("0001 0005 41 0001 0005 42")});
    EXPECT_EQ(test::decode(decode_ethernet, cisco_snap("2000", message, 8 + 4 + 5), 14),
              cdp_head + "  Type: 1\n  Device ID: \"A\"\n  Total length: 5\n");
}

TEST(CiscoSnap, CgmpAndVtp) {
    test::reset({"verbose", "statistic"});
    EXPECT_EQ(test::decode(decode_ethernet, cisco_snap("2001", hex("12 0304 01 01005e000001 00000c0a0b0c")), 14),
              "\n- Ethernet Header -\n- LLC Header -- CGMP Header -\n  Version: 1, Type: 2\n"
              "  Reserved: 772, Count: 1\n  GDA: 0100.5e00.0001, USA: 0000.0c0a.0b0c\n");
    struct {
        const char* message;
        std::string line;
    } vtp[] = {
        {"01 02", "  Version: 0x01, Code: 0x02  (Subset Advert)\n"},
        {"02 00", "  Version: 0x02, Code: 0x00  (Unknown)\n"},
        {"02 09", "  Version: 0x02, Code: 0x09  (Unknown)\n"},
    };
    for (const auto& c : vtp)
        EXPECT_EQ(test::decode(decode_ethernet, cisco_snap("2003", hex(c.message)), 14),
                  "\n- Ethernet Header -\n- LLC Header -- VTP Header -\n" + c.line);
    EXPECT_EQ(counters.cgmp, 1u);
    EXPECT_EQ(counters.vtp, 3u);
}

}  // namespace
