#include "decode/link/ppp.h"

#include <gtest/gtest.h>

#include "decode/decoder.h"
#include "decode/link/ethernet.h"
#include "decode/link/linux_cooked.h"
#include "decode/link/pppoe.h"
#include "decode/link/slip.h"
#include "support.h"

namespace {

using test::bytes;
using test::hex;

bytes ethernet(const char* type, const bytes& payload) {
    return test::concat({hex("020000000001 020000000002"), hex(type), payload});
}

// A PPPoE header with the code, session id and a payload length that
// matches `payload` unless given.
bytes pppoe(const char* code, const bytes& payload, long length = -1) {
    bytes h = test::concat({hex("11"), hex(code), hex("1a2b 0000"), payload});
    test::put_be16(h, 4, static_cast<uint16_t>(length < 0 ? payload.size() : length));
    return h;
}

const std::string pppoe_head = "\n- Ethernet Header -\n- PPPoE Header -\n";

TEST(Ppp, ProtocolNamesAndRanges) {
    struct {
        const char* protocol;
        const char* name;
    } cases[] = {
        {"0000", "unknown LCP"},
        {"0001", "unknown reserved"},
        {"001f", "unknown reserved"},
        {"0020", "unknown network layer"},
        // The last two-byte value of each range: an odd first byte would
        // be a compressed one-byte protocol.
        {"3eff", "unknown network layer"},
        {"4000", "unknown free/low bandwidth"},
        {"7eff", "unknown free/low bandwidth"},
        {"8000", "unknown NCP"},
        {"beff", "unknown NCP"},
        {"c000", "unknown LCP"},
        {"feff", "unknown LCP"},
    };
    for (const auto& c : cases) {
        test::reset({"verbose", "statistic"});
        unsigned value = static_cast<unsigned>(std::stoul(c.protocol, nullptr, 16));
        char want[96];
        snprintf(want, sizeof want, "- PPP Header -\n  Protocol: 0x%x (%s)", value, c.name);
        EXPECT_EQ(test::decode(decode_ppp, test::concat({hex(c.protocol), hex("0102")})), want) << c.protocol;
        EXPECT_EQ(counters.ppp, 1u);
    }
}

TEST(Ppp, LinkFramesWithAndWithoutAddressAndControl) {
    // The link's own header length stays in force after each frame.
    for (const char* frame : {"ff03 c021 0a01 0008 deadbeef", "c021 0a01 0008 deadbeef"}) {
        test::reset();
        EXPECT_EQ(test::decode(decode_ppp_link, hex(frame), 4),
                  "- PPP Header -\n  Protocol: 0xc021\n  - LCP Header -\n    Code: 10\n    Identifier: 1, Length: "
                  "8\n    Magic-Num: deadbeef\n")
            << frame;
        EXPECT_EQ(capture.link_header_length, 4u);
    }
}

TEST(Pppoe, TagWalkEndsWithThePayloadOrTheCapture) {
    const std::string service = "  - Tag 1 -\n    Type: 0x101\n    Length: 0\n";
    struct {
        const char* why;
        bytes frame;
        std::string want;
    } cases[] = {
        {"no End-Of-List: the payload length ends the list",
         ethernet("8863", pppoe("09", hex("0101 0000 0101 0000"), 4)), pppoe_head + service},
        {"padding behind the payload is not read as tags",
         ethernet("8863", pppoe("09", hex("0101 0000 0000 0000 0000 0000"), 6)), pppoe_head + service},
        {"a payload length beyond the captured bytes", ethernet("8863", pppoe("09", hex("0101 0000 0101"), 40)),
         pppoe_head + service},
        {"an unlisted tag type ends the list", ethernet("8863", pppoe("09", hex("0101 0000 0999 0000 0101 0000"))),
         pppoe_head + service + "  - Tag 2 -\n    Type: 0x999\n    Length: 0\n"},
    };
    for (const auto& c : cases) {
        test::reset();
        EXPECT_EQ(test::decode(decode_ethernet, c.frame, 14), c.want) << c.why;
    }
}

TEST(Pppoe, CodesWithoutSessionLineAndHexDump) {
    test::reset({"expand-pppoe", "verbose", "print-pppoe-hex"});
    // The dump runs to the wire length, cut where the capture ended.
    bytes frame = ethernet("8863", pppoe("d4", hex("0101 0000 aabbccdd")));
    EXPECT_EQ(test::decode(decode_ethernet, frame, 14, static_cast<long>(frame.size()), 100),
              pppoe_head + "  Version: 1, Type: 1, Code: 0xd4 (PADN)\n0x0001: 00 00 aa bb cc dd\n");
    test::reset({"expand-pppoe", "verbose", "print-pppoe-hex", "print-udp-text"});
    EXPECT_EQ(test::decode(decode_ethernet, ethernet("8863", pppoe("42", {})), 14),
              pppoe_head + "  Version: 1, Type: 1, Code: 0x42 (Unknown)");
}

TEST(Slip, FramingAndVersions) {
    test::reset({"statistic"});
    // Link header of 16 bytes in front of the END character.
    bytes prefix(16, 0);
    EXPECT_EQ(test::decode(decode_slip, test::concat({prefix, hex("c0 75 000000000000000000 00c0")}), 16),
              "Received SLIP Packet: \nUnknown IP version: 7.\n");
    EXPECT_EQ(test::decode(decode_slip, test::concat({prefix, hex("c0 45 000000000000000000 0000")}), 16), "");
    EXPECT_EQ(test::decode(decode_slip, test::concat({prefix, hex("00 45 000000000000000000 00c0")}), 16), "");
    bytes ipv6 = hex("60000000 0000 3b 40 000000c0000000000000000000000001 00000000000000000000000000000002");
    std::string v6 = test::decode(decode_slip, test::concat({prefix, hex("c0"), ipv6}), 16);
    EXPECT_EQ(v6.rfind("Received SLIP Packet: \n", 0), 0u) << v6;
    EXPECT_NE(v6.find("IPv6"), std::string::npos) << v6;
}

TEST(LinuxCooked, DispatchByProtocolField) {
    const bytes head = hex("0000 0001 0006 020000000002 0000");
    struct {
        const char* protocol;
        const char* payload;
        std::string want;
    } cases[] = {
        {"0001", "4242 03", "\n- LLC Header -\n"},  // 802.2 frame
        {"0003", "4242 03", ""},                    // every other kernel kind: nothing
        {"0600", "4242 03", ""},                    // not yet an EtherType
        {"6001", "07", "\n- MOPv3 Dump/Load Protocol header -\n  Code: 7\n"},
        {"1234", "", "\n"},  // unknown EtherType
    };
    for (const auto& c : cases) {
        test::reset();
        EXPECT_EQ(test::decode(decode_linux_cooked, test::concat({head, hex(c.protocol), hex(c.payload)})), c.want)
            << c.protocol;
    }
    test::reset();
    std::string ipx = test::decode(decode_linux_cooked, test::concat({head, hex("0004 ffff 001e")}));
    EXPECT_EQ(ipx.rfind("\n- IPX Header -", 0), 0u) << ipx;
}

}  // namespace
