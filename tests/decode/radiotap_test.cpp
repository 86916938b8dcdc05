#include "decode/link/radiotap.h"

#include <gtest/gtest.h>

#include "support.h"

namespace {

using test::bytes;
using test::hex;

// An acknowledgement frame: what follows every radiotap header here.
const char* const ack = "d400 0000 021111111111 a1b2c3d4";
const char* const ack_text =
    "\n- 802.11 Header -\n  Version: 0, Type: 1\n  Subtype: 13\n  Duration/ID: 0\n  RA: 02:11:11:11:11:11\n"
    "  FCS: 0xa1b2c3d4\n";

// TSFT, flags, rate, channel, antenna signal and noise, antenna.
const char* const common = "0000 1900 6f080000 5634120000000000 10 0b 8509a000 d8 a1 01";

TEST(Radiotap, CommonFieldsThenThe80211Frame) {
    test::reset({"verbose"});
    EXPECT_EQ(test::decode(decode_radiotap, hex(std::string(common) + ack)),
              "\n- Radiotap Header -\n  Version: 0, Length: 25\n  Present: 0x0000086f\n  TSFT: 1193046 us\n"
              "  Flags: 0x10 (FCS at end)\n  Rate: 5.5 Mb/s\n  Channel: 2437 MHz, Flags: 0x00a0 (CCK, 2 GHz)\n"
              "  Antenna Signal: -40 dBm\n  Antenna Noise: -95 dBm\n  Antenna: 1\n"
              "\n- 802.11 Header -\n  Version: 0, Type: 1 (Control)\n  Subtype: 13 (Acknowledgement)\n"
              "  Duration/ID: 0\n  RA: 02:11:11:11:11:11\n  FCS: 0xa1b2c3d4\n");
    // Names only under --verbose.
    test::reset();
    auto out = test::decode(decode_radiotap, hex(std::string(common) + ack));
    EXPECT_NE(out.find("  Flags: 0x10\n  Rate: 5.5 Mb/s\n  Channel: 2437 MHz, Flags: 0x00a0\n"), std::string::npos)
        << out;
}

TEST(Radiotap, AlignmentAndExtendedBitmaps) {
    struct {
        const char* header;
        const char* fields;
    } cases[] = {
        // Two bitmaps put the data at 12: TSFT is padded to 16.
        {"0000 1800 01000080 00000000 eeeeeeee 0100000000000000", "  Present: 0x80000001, 0x00000000\n  TSFT: 1 us\n"},
        // The channel is padded to an even offset behind the flags.
        {"0000 0e00 0a000000 02 ff 6c094001",
         "  Present: 0x0000000a\n  Flags: 0x02\n  Channel: 2412 MHz, Flags: 0x0140\n"},
        // A second radiotap namespace starts its bit numbers over: a
        // second antenna's signal.
        {"0000 1000 220000a0 20080000 00 ce cc 01",
         "  Present: 0xa0000022, 0x00000820\n  Flags: 0x00\n  Antenna Signal: -50 dBm\n"
         "  Antenna Signal: -52 dBm\n  Antenna: 1\n"},
        // A vendor namespace is skipped by its own length; the radiotap
        // namespace after it goes on behind.
        {"0000 1d00 020000c0 0f0000a0 20000000 00 ee 001122 03 0400 deadbeef d0",
         "  Present: 0xc0000002, 0xa000000f, 0x00000020\n  Flags: 0x00\n"
         "  Vendor Namespace: OUI 0x001122, Sub Namespace: 3, Skip Length: 4\n  Antenna Signal: -48 dBm\n"},
        // An unknown field hides where the next one lies.
        {"0000 0900 02000010 00",
         "  Present: 0x10000002\n  Flags: 0x00\n  Unknown field 28: the fields behind it are not shown\n"},
        // Fields that do not fit the stated length are not read.
        {"0000 0c00 01000000 00000000",
         "  Present: 0x00000001\n  Error: Radiotap fields run past the header length(12 bytes).\n"},
    };
    for (const auto& c : cases) {
        test::reset();
        bytes header = hex(c.header);
        auto out = test::decode(decode_radiotap, test::concat({header, hex(ack)}));
        std::string expected = "\n- Radiotap Header -\n  Version: 0, Length: " + std::to_string(header.size()) + "\n" +
                               c.fields + ack_text;
        EXPECT_EQ(out, expected) << c.header;
    }
}

TEST(Radiotap, HeadersThatCannotBeDecoded) {
    struct {
        const char* frame;
        const char* text;
    } cases[] = {
        {"0100 0800 00000000", "  Version: 1, Length: 8\n  Error: Unknown radiotap version.\n"},
        {"0000 0400 00000000", "  Version: 0, Length: 4\n  Error: Radiotap header length(4 bytes) < 8.\n"},
        // The bitmap chain runs past the header.
        {"0000 0800 00000080 00000000",
         "  Version: 0, Length: 8\n  Present: 0x80000000\n  Error: Radiotap fields run past the header length(8 "
         "bytes).\n"},
    };
    for (const auto& c : cases) {
        test::reset();
        EXPECT_EQ(test::decode(decode_radiotap, hex(c.frame)), std::string("\n- Radiotap Header -\n") + c.text)
            << c.frame;
    }
}

// Every field this decoder knows, aligned: they end exactly at byte 128.
bytes all_fields() { return test::concat({hex("0000 8000 ffffff0f"), bytes(120, 0)}); }

TEST(Radiotap, EveryKnownFieldIsPlaced) {
    test::reset();
    auto out = test::decode(decode_radiotap, test::concat({all_fields(), hex(ack)}));
    EXPECT_NE(out.find("  Timestamp: 0, Accuracy: 0, Unit/Position: 0x00, Flags: 0x00\n"), std::string::npos) << out;
    EXPECT_TRUE(out.ends_with(std::string("  L-SIG: 00 00 00 00\n") + ack_text)) << out;
}

TEST(Radiotap, EveryPrefixStaysInsideTheCapturedBytes) {
    test::reset({"verbose"});
    // A data frame with LLC/SNAP and IPv4 behind the radiotap header.
    bytes data =
        hex("0801 2c00 021111111111 022222222222 023333333333 5006 aaaa03 000000 0800"
            "45000020 00010000 40110000 0a000001 0a000002 3039 270f 000c 0000 61626364");
    for (const bytes& header :
         {hex(common), all_fields(), hex("0000 1d00 020000c0 0f0000a0 20000000 00 ee 001122 03 0400 deadbeef d0"),
          hex("0000 1000 220000a0 20080000 00 ce cc 01")})
        EXPECT_GT(test::decode_all_prefixes(decode_radiotap, test::concat({header, data})), 0);
}

}  // namespace
