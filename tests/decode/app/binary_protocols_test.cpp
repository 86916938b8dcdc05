// MQTT, RADIUS, TFTP and BFD, each on its port, by default and under
// --expand-all --verbose.
#include <gtest/gtest.h>

#include "app_frames.h"
#include "decode/expected_text.h"
#include "stats/counters.h"

namespace {

using test::bytes;
using test::hex;

struct binary_case {
    const char* name;  // also the section of tests/data/binary_protocols.txt
    std::string payload;
    uint16_t port;
    bool udp;
    bool expand;
    uint32_t protocol_counters::*counter;
};

// RADIUS Access-Request: User-Name "alice", NAS-IP-Address 192.0.2.1,
// NAS-Port 7, Message-Authenticator.
const std::string access_request =
    "01 2a 0039 00112233445566778899aabbccddeeff 0107616c696365 0406c0000201 050600000007 "
    "5012 000102030405060708090a0b0c0d0e0f";

const binary_case cases[] = {
    {"mqtt connect 3.1.1", "10 15 0004 4d515454 04 02 003c 0009 73656e736f722d3031", 1883, false, false,
     &protocol_counters::mqtt},
    {"mqtt connect 5", "10 16 0004 4d515454 05 02 003c 00 0009 73656e736f722d3031", 1883, false, true,
     &protocol_counters::mqtt},
    {"mqtt publish qos 1 and puback", "32 0f 0009 686f6d652f74656d70 0001 3231 40 02 0001", 1883, false, true,
     &protocol_counters::mqtt},
    {"mqtt subscribe and suback", "82 08 0001 0003 612f23 02 90 03 0001 02", 1883, false, false,
     &protocol_counters::mqtt},
    {"mqtt connack and pingresp", "20 02 01 00 d0 00", 1883, false, false, &protocol_counters::mqtt},
    {"mqtt publish continues", "30 40 0009 686f6d652f74656d70 3231", 1883, false, false, &protocol_counters::mqtt},
    {"mqtt remaining length too long", "30 ff ff ff ff 01", 1883, false, false, &protocol_counters::mqtt},
    {"radius access-request", access_request, 1812, true, false, &protocol_counters::radius},
    {"radius access-request expanded", access_request, 1812, true, true, &protocol_counters::radius},
    // A Cisco-AVPair; a Microsoft attribute whose inner length overruns
    // its value stays hex.
    {"radius vendor-specific expanded",
     "01 07 002f 00112233445566778899aabbccddeeff 1a0f 00000009 0109613d622d633d64 1a0c 00000137 1c0a0a000035",
     1812, true, true, &protocol_counters::radius},
    {"radius bad attribute", "02 01 0018 00112233445566778899aabbccddeeff 1b 09 0000", 1812, true, false,
     &protocol_counters::radius},
    {"tftp read request", "0001 626f6f742e696d6700 6f6374657400 626c6b73697a6500 3134323800", 69, true, false,
     &protocol_counters::tftp},
    {"tftp read request expanded", "0001 626f6f742e696d6700 6f6374657400 626c6b73697a6500 3134323800", 69, true, true,
     &protocol_counters::tftp},
    {"tftp error", "0005 0001 66696c65206e6f7420666f756e6400", 69, true, true, &protocol_counters::tftp},
    {"tftp string not ended", "0002 626f6f74", 69, true, false, &protocol_counters::tftp},
    {"bfd up", "20 c0 03 18 00000001 00000002 000f4240 000f4240 00000000", 3784, true, false, &protocol_counters::bfd},
    {"bfd poll with authentication expanded",
     "21 64 05 21 00000001 00000000 000f4240 000f4240 00000000 01 09 02 736563726574", 3784, true, true,
     &protocol_counters::bfd},
    {"bfd bad length", "20 c0 03 40 00000001 00000002 000f4240 000f4240 00000000", 4784, true, false,
     &protocol_counters::bfd},
};

bytes frame_of(const binary_case& c) {
    return c.udp ? appf::udp4(hex(c.payload), 40001, c.port) : appf::tcp4(hex(c.payload), c.port);
}

std::string from_banner(const std::string& out) {
    for (const char* banner : {"- MQTT", "- RADIUS", "- TFTP", "- BFD"}) {
        size_t at = out.find(banner);
        if (at != std::string::npos) return out.substr(at);
    }
    return "<no banner>\n" + out;
}

TEST(BinaryProtocols, TextAndCounters) {
    for (const auto& c : cases) {
        if (c.expand)
            test::reset({"expand-all", "verbose", "statistic"});
        else
            test::reset({"statistic"});
        std::string out = from_banner(ipf::decode_ethernet_frame(frame_of(c)));
        EXPECT_EQ(out, test::expected_section("binary_protocols.txt", c.name)) << c.name;
        EXPECT_EQ(counters.*c.counter, 1u) << c.name;
    }
}

// tests/data/binary_protocols.json.txt: per case the application layers of the JSON line
// (from the first one on) and the summary line's facts.
TEST(BinaryProtocols, JsonAndSummary) {
    for (const auto& c : cases) {
        std::string expected = test::expected_section("binary_protocols.json.txt", c.name);
        size_t newline = expected.find('\n');
        std::string layers = expected.substr(0, newline);
        std::string facts = expected.substr(newline + 1, expected.size() - newline - 2);
        bytes frame = frame_of(c);
        test::reset({"json"});
        std::string line = appf::json(frame);
        EXPECT_TRUE(test::valid_json(line)) << line;
        EXPECT_NE(line.find(layers), std::string::npos) << c.name << "\n" << line;
        test::reset({"summary"});
        line = test::decode_record(decode_ethernet, frame, 14);
        EXPECT_NE(line.find(facts), std::string::npos) << c.name << "\n" << line;
    }
}

TEST(BinaryProtocols, EveryPrefix) {
    for (const auto& c : cases) {
        bytes frame = frame_of(c);
        EXPECT_EQ(test::invalid_json_prefix(decode_ethernet, frame, 14), "") << c.name;
        test::reset({"expand-all", "verbose", "statistic"});
        EXPECT_GT(test::decode_all_prefixes(decode_ethernet, frame, 14), 0) << c.name;
    }
}

}  // namespace
