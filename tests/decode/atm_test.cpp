#include "decode/link/atm.h"

#include <gtest/gtest.h>

#include "decode/decoder.h"
#include "support.h"

namespace {

using test::hex;

TEST(Atm, ClassicalIpWithAndWithoutLlc) {
    test::reset({"verbose", "statistic"});
    EXPECT_EQ(test::decode(decode_atm_clip, hex("aaaa03 000000 1234")),
              "\n- Classical-IP over ATM(with LLC) -  DSAP: 0xaa, SSAP: 0xaa, Control: 0x03\n"
              "  OUI: 0x000000, Type: 0x1234 (unknown type)\n");
    // Anything else is a bare datagram, even a frame too short for the test.
    for (const char* pdu : {"aaaa03 00000c 0800", "aaaa03 0000", "45"}) {
        std::string out = test::decode(decode_atm_clip, hex(pdu));
        EXPECT_EQ(out.rfind("\n- Classical-IP over ATM(without LLC) -\n- IPv4 Header -", 0), 0u) << pdu << out;
    }
    EXPECT_EQ(counters.atm_clip_llc, 1u);
    EXPECT_EQ(counters.atm_clip, 0u);  // the cut datagrams ended in the marker
}

}  // namespace
