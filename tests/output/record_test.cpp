// The structured writers over frames the core decoders record.
#include <gtest/gtest.h>

#include "decode/link/ethernet.h"
#include "support.h"

using test::bytes;
using test::hex;

namespace {

// Ethernet, IPv4 (checksum correct), TCP SYN from 192.0.2.1:40000 to
// 198.51.100.7:80, seq 1000, window 64240, with an MSS option.
bytes tcp_syn() {
    bytes ip = hex("45000030 1234 4000 40 06 0000 c0000201 c6336407");
    test::put_be16(ip, 10, test::inet_checksum(ip));
    bytes tcp = hex("9c40 0050 000003e8 00000000 7002 faf0 0000 0000 020405b4 01010402");
    return test::concat({hex("0200000000aa 0200000000bb 0800"), ip, tcp});
}

}  // namespace

TEST(Record, JsonLineHoldsEveryLayerWithTypedValues) {
    test::reset({"json", "calc-checksums"});
    std::string line = test::decode_record(decode_ethernet, tcp_syn(), 14);
    ASSERT_TRUE(test::valid_json(line)) << line;
    ASSERT_EQ(line.back(), '\n');
    for (const char* part : {
             "{\"frame\":1,\"time\":\"1970-01-01T12:34:56.000000Z\",\"epoch_ns\":45296000000000,",
             "\"stack\":[\"ethernet\",\"ipv4\",\"tcp\"],\"ethernet\":{\"dst\":\"02:00:00:00:00:aa\"",
             "\"ipv4\":{\"version\":4,\"header_length\":5,\"total_length\":48,\"ttl\":64",
             "\"src\":\"192.0.2.1\",\"dst\":\"198.51.100.7\",\"protocol\":6,\"protocol_name\":\"TCP\"",
             "\"checksum_ok\":true",
             "\"tcp\":{\"src_port\":40000",
             "\"seq\":1000,\"ack\":0,\"data_offset\":28,\"flags\":2,\"flags_name\":[\"syn\"],\"window\":64240",
             "\"options\":[2,1,1,4],\"mss\":1460",
         })
        EXPECT_NE(line.find(part), std::string::npos) << part << "\n" << line;
    // The TCP checksum is zero, so the verdict says what it should be.
    EXPECT_NE(line.find("\"checksum\":0,\"checksum_ok\":false,\"checksum_expected\":"), std::string::npos) << line;
}

TEST(Record, SummaryIsOneLineWithAddressesPortsAndFacts) {
    test::reset({"summary"});
    EXPECT_EQ(test::decode_record(decode_ethernet, tcp_syn(), 14),
              "12:34:56.000000 192.0.2.1.40000 > 198.51.100.7.80 TCP [S] seq 1000 ack 0 win 64240 len 0 (62 bytes)\n");
}

TEST(Record, CutFramesSaySoInBothWriters) {
    bytes frame = tcp_syn();
    test::reset({"json"});
    std::string line = test::decode_record(decode_ethernet, frame, 14, 40, static_cast<long>(frame.size()));
    EXPECT_TRUE(test::valid_json(line)) << line;
    EXPECT_NE(line.find(",\"truncated\":true}"), std::string::npos) << line;
    test::reset({"summary"});
    line = test::decode_record(decode_ethernet, frame, 14, 40, static_cast<long>(frame.size()));
    EXPECT_EQ(line.substr(line.size() - 13), " [truncated]\n");
    // Whole frame, but the IP header claims more than there is.
    bytes cut(frame.begin(), frame.begin() + 40);
    test::reset({"json"});
    line = test::decode_record(decode_ethernet, cut, 14);
    EXPECT_NE(line.find(",\"malformed\":true}"), std::string::npos) << line;
}

TEST(Record, EveryPrefixOfAFrameGivesValidJson) {
    bytes frame = tcp_syn();
    for (size_t n = 0; n <= frame.size(); ++n) {
        test::reset({"json", "calc-checksums", "print-tcp-hex"});
        bytes part(frame.begin(), frame.begin() + static_cast<long>(n));
        std::string line = test::decode_record(decode_ethernet, part, 14);
        EXPECT_TRUE(test::valid_json(line)) << n << ": " << line;
    }
}

TEST(Record, TextOutputIsUntouchedByTheRecordPath) {
    // The text printer and the field API give the same bytes as before.
    test::reset({"expand-all", "verbose"});
    std::string text = test::decode(decode_ethernet, tcp_syn(), 14);
    EXPECT_NE(text.find("\n  Version: 4, Hdr-Len: 5, Length: 48\n  TTL: 64, TOS: 0x00 (default|Not-ECT), ID: 4660\n"
                        "  Frag.: 0x4000 (dont frag. )\n  Src IP: 192.0.2.1\n  Dst IP: 198.51.100.7\n"
                        "  Protocol: 6 (TCP)\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("  Flag(s): Syn \n  Win-Size: 64240, Urg-Ptr: 0x0000\n"), std::string::npos) << text;
}

TEST(Record, JsonEscapesEveryByteThatIsNotPrintableAscii) {
    EXPECT_TRUE(test::valid_json("{\"a\":[1,-2.5,\"x\\u00ff\"],\"b\":{}}"));
    EXPECT_FALSE(test::valid_json("{\"a\":1,}"));
    EXPECT_FALSE(test::valid_json("{\"a\":\"\x01\"}"));
    // A key twice in one object is refused; the same key in two objects is not.
    EXPECT_FALSE(test::valid_json("{\"a\":1,\"b\":{},\"a\":2}"));
    EXPECT_TRUE(test::valid_json("{\"a\":{\"a\":1},\"b\":[{\"a\":1},{\"a\":2}]}"));
}
