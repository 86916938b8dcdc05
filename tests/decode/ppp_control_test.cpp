#include <gtest/gtest.h>

#include "decode/decoder.h"
#include "decode/link/ppp.h"
#include "support.h"

namespace {

using test::hex;

// Decodes a PPP frame (protocol field first) and returns what the control
// protocol printed behind the PPP lines.
std::string control(const char* protocol, const std::string& packet, std::initializer_list<const char*> flags = {}) {
    test::reset(flags);
    std::string out = test::decode(decode_ppp, test::concat({hex(protocol), hex(packet)}));
    size_t banner = out.find("\n  - ");
    return banner == std::string::npos ? out : out.substr(banner);
}

TEST(PppControl, CodeNamesAndFallbacks) {
    struct {
        const char* protocol;
        const char* packet;
        std::string want;
    } cases[] = {
        {"c021", "0d01 0004",
         "\n  - LCP Header -\n    Code: 13 (Time-Remaining)\n    Identifier: 1, Length: 4\n"
         "    Magic-Num: "},
        {"c021", "0e01 0004", "\n  - LCP Header -\n    Code: 14 (Unknown)\n    Identifier: 1, Length: 4\n"},
        {"8021", "0801 0004", "\n  - IPCP Header -\n    Code: 8 (Unknown)\n    Identifier: 1, Length: 4\n"},
        {"80fd", "0c01 0004", "\n  - CCP Header -\n    Code: 12 (Unknown)\n    Identifier: 1, Length: 4\n"},
        {"80fd", "1001 0004", "\n  - CCP Header -\n    Code: 16 (Unknown)\n    Identifier: 1, Length: 4\n"},
        {"c223", "0701 0004", "\n  - CHAP Header -\n    Code: 7 (unknown)\n    Identifier: 1, Length: 4\n"},
        {"8029", "0101 000a 1f04 0000 0000",
         "\n  - ATCP Header -\n    Code: 1 (Configuration-Request)\n    Identifier: 1, Length: 10\n"
         "    - Configuration Header -\n      Type: 31 (unkown)\n      Length: 4\n"},
        {"c021", "0101 0008 2504 0000",
         "\n  - LCP Header -\n    Code: 1 (Configuration-Request)\n    Identifier: 1, Length: 8\n"
         "    - Configuration Header -\n      Type: 37 (Unknown)\n      Length: 4\n"},
    };
    for (const auto& c : cases) {
        // Time-Remaining needs its magic and seconds; cut frames end in the marker.
        std::string out = control(c.protocol, c.packet, {"verbose"});
        EXPECT_EQ(out.substr(0, c.want.size()), c.want) << c.packet;
    }
}

TEST(PppControl, ConfigurationPacketsWithoutOptionsShowNone) {
    // An empty Configure-Ack is legal; what follows it is not an option.
    EXPECT_EQ(control("c021", "0203 0004 0000 0000", {"verbose"}),
              "\n  - LCP Header -\n    Code: 2 (Configuration-Ack)\n    Identifier: 3, Length: 4\n");
    EXPECT_EQ(control("8021", "0103 0004"), "\n  - IPCP Header -\n    Code: 1\n    Identifier: 3, Length: 4\n");
}

TEST(PppControl, IpcpAddressLengthIsChecked) {
    test::reset({"statistic"});
    std::string out = test::decode(decode_ppp, hex("8021 0101 000a 8104 0a000001 0000"));
    EXPECT_NE(out.find("      Length: 4\n      Error: Invalid length in IPCP configuration header\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(counters.ipcp, 1u);
    EXPECT_EQ(counters.ipcp_error, 1u);
    test::decode(decode_ppp, hex("8021 0101 000a 8106 0a000001"));
    EXPECT_EQ(counters.ipcp, 2u);
    EXPECT_EQ(counters.ipcp_error, 1u);
}

TEST(PppControl, LcpTimeRemainingMessage) {
    struct {
        const char* packet;
        std::string tail;
    } cases[] = {
        {"0d05 000f 0a0b0c0d 0000003c 6279 65", "    Message: bye\n"},
        {"0d05 000c 0a0b0c0d 0000003c", "    Message: \n"},
        {"0d05 0008 0a0b0c0d 0000003c", ""},
    };
    for (const auto& c : cases) {
        std::string out = control("c021", c.packet);
        EXPECT_EQ(out.substr(out.find("    Magic-Num")),
                  "    Magic-Num: 0a0b0c0d, Seconds-Remaining: 0000003c\n" + c.tail)
            << c.packet;
    }
}

TEST(PppControl, AuthenticationStringsStayInsideThePacket) {
    struct {
        const char* protocol;
        const char* packet;
        std::string want;
    } cases[] = {
        {"c023", "0102 000d 03 616d79 03 7077 0a",
         "\n  - PAP Header -\n    Code: 1\n    Identifier: 2, Length: 13\n    Peer-ID Length: 3\n    Peer-ID: amy\n"
         "    Password Length: 3\n    Password: pw.\n"},
        // A peer-id length beyond the packet length shows what the packet
        // holds, and no password length is read from behind the packet.
        {"c023", "0102 0008 09 616d79 ffff",
         "\n  - PAP Header -\n    Code: 1\n    Identifier: 2, Length: 8\n    Peer-ID Length: 9\n    Peer-ID: amy\n"
         "    Password Length: 0\n    Password: \n"},
        {"c223", "0109 000c 04 00ff4142 6e6d 61",
         "\n  - CHAP Header -\n    Code: 1\n    Identifier: 9, Length: 12\n    Value-Size: 4\n    Value: \"..AB\"\n"
         "    Name: \"nma\"\n"},
        {"c223", "0209 0006 09 00",
         "\n  - CHAP Header -\n    Code: 2\n    Identifier: 9, Length: 6\n"
         "    Value-Size: 9\n    Value: \".\"\n    Name: \"\"\n"},
        {"c223", "0309 0007 4f4b21 ffff",
         "\n  - CHAP Header -\n    Code: 3\n    Identifier: 9, Length: 7\n    Message: \"OK!\"\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(control(c.protocol, c.packet), c.want) << c.packet;
}

}  // namespace
