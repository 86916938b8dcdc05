#include "decode/ip/ipx.h"

#include <gtest/gtest.h>

#include "decode/decoder.h"
#include "decode/link/ethernet.h"
#include "support.h"

namespace {

// Decodes an Ethernet frame the way the pcap source does (14-byte link header).
std::string decode_on_ethernet(const test::bytes& frame) { return test::decode(decode_ethernet, frame, 14); }
int decode_prefixes_on_ethernet(const test::bytes& frame) {
    return test::decode_all_prefixes(decode_ethernet, frame, 14);
}

// An Ethernet II frame with EtherType 0x8137 and an IPX header of the
// given packet type and sockets, followed by `rest`.
test::bytes ipx_frame(const char* type, const char* dst_socket, const char* src_socket, const char* rest = "") {
    return test::concat({test::hex("ffffffffffff 020000000001 8137 ffff 0028 03"), test::hex(type),
                         test::hex("0000beef ffffffffffff"), test::hex(dst_socket), test::hex("12345678 00000c010203"),
                         test::hex(src_socket), test::hex(rest)});
}

const std::string head = "\n- Ethernet Header -\n- IPX Header -\n  Checksum: 0xffff, Length: 40\n";

TEST(Ipx, HeaderNamesUnderVerbose) {
    struct {
        const char* type;
        const char* dst_socket;
        const char* src_socket;
        std::string want;
    } cases[] = {
        {"11", "0451", "4003",
         "  Transport Control: 3, Packet Type: 17 (NCP)\n  [Dst] Net: 0000beef, Node: ff:ff:ff:ff:ff:ff, Socket: 1105 "
         "(NCP)\n  [Src] Net: 12345678, Node: 00:00:0c:01:02:03, Socket: 16387 (unknown)\n"},
        {"07", "0002", "0553",
         "  Transport Control: 3, Packet Type: 7\n  [Dst] Net: 0000beef, Node: ff:ff:ff:ff:ff:ff, Socket: 2 (Echo)\n  "
         "[Src] Net: 12345678, Node: 00:00:0c:01:02:03, Socket: 1363 (NWLink)\n"},
    };
    for (const auto& c : cases) {
        test::reset({"verbose", "statistic"});
        EXPECT_EQ(decode_on_ethernet(ipx_frame(c.type, c.dst_socket, c.src_socket)), head + c.want) << c.type;
        EXPECT_EQ(counters.ipx, 1u);
    }
}

TEST(Ipx, SpxHeaders) {
    const std::string ipx_lines =
        "  Transport Control: 3, Packet Type: 5\n  [Dst] Net: 0000beef, Node: ff:ff:ff:ff:ff:ff, Socket: 1105\n  "
        "[Src] Net: 12345678, Node: 00:00:0c:01:02:03, Socket: 16387";
    struct {
        const char* spx;
        std::string want;
        bool v2;
    } cases[] = {
        {"48 fe 0001 0002 0003 0004 0005 0240",
         "SPXv2 ACK \n  Datastream Type: End-of-Connection\n  Source Con. ID: 1, Dest. Con. ID: 2\n\n  Seq.: 3, "
         "Ack-Seq.: 4\n\n  Allocation Number: 0x0005\n  Negotiate Size: 576\n",
         true},
        {"b7 ff ffff 0000 0000 0000 abcd",
         "XHD RES1 NEG EOM ATN SYS \n  Datastream Type: End-of-Connection Acknowledgement\n  Source Con. ID: 65535, "
         "Dest. Con. ID: 0\n\n  Seq.: 0, Ack-Seq.: 0\n\n  Allocation Number: 0xabcd\n",
         false},
        {"00 02 0001 0002 0003 0004 0005",
         "\n  Datastream Type: 2\n  Source Con. ID: 1, Dest. Con. ID: 2\n\n  Seq.: 3, Ack-Seq.: 4\n\n  Allocation "
         "Number: 0x0005\n",
         false},
    };
    for (const auto& c : cases) {
        test::reset({"statistic"});
        EXPECT_EQ(decode_on_ethernet(ipx_frame("05", "0451", "4003", c.spx)),
                  head + ipx_lines + "\n- SPX Header -\n  Connection Control: " + c.want)
            << c.spx;
        EXPECT_EQ(counters.spxv2, c.v2 ? 1u : 0u);
        EXPECT_EQ(counters.spx, c.v2 ? 0u : 1u);
    }
}

TEST(Ipx, EveryPrefixStaysInsideTheFrame) {
    test::reset({"verbose", "statistic", "expand-all"});
    decode_prefixes_on_ethernet(ipx_frame("05", "0451", "4003", "48 fe 0001 0002 0003 0004 0005 0240"));
    decode_prefixes_on_ethernet(ipx_frame("01", "0453", "0453", "0002 00000001 0001 0002"));
}

}  // namespace
