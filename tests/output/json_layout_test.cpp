// The JSON Lines layout that loaders rely on: one object per protocol,
// repeated protocols in <proto>_inner, one type per key, no key twice,
// exact times and unsigned numbers.
#include <gtest/gtest.h>

#include <functional>

#include "capture/frame.h"
#include "decode/app/app_frames.h"
#include "decode/context.h"
#include "decode/fields.h"
#include "decode/link/ethernet.h"
#include "pipeline/frame_loop.h"
#include "support.h"

namespace {

// The context the test's records are made in.
decode_context& cx = frame_loop_main_context();

using test::bytes;
using test::hex;

// The JSON line of one frame whose record `fill` makes, stamped at the
// given time.
std::string line_of(long seconds, unsigned microseconds, const std::function<void()>& fill) {
    test::reset({"json"});
    std::string out = test::capture_output([&] {
        capture.frame_counter = 1;
        cx.frame_number = 1;
        begin_frame(cx, seconds, microseconds, 60, 60);
        fill();
        end_frame(cx);
    });
    zelk_set_text_suppressed(false);
    return out;
}

std::string decoded_line(const bytes& frame) {
    test::reset({"json"});
    return test::decode_record(decode_ethernet, frame, 14);
}

// SNMPv2c GetResponse with two bindings: a STRING "Linux box" and a
// Counter64 of 2^64-1.
bytes snmp_counter64() {
    return hex(
        "30 43 020101 0406 7075626c6963 a2 36 020204d2 020100 020100 30 2a"
        "  30 15 0608 2b06010201010100 0409 4c696e757820626f78"
        "  30 11 0604 2b060102 4609 00ffffffffffffffff");
}

// ICMP echo in IPv4 in GRE in IPv4.
bytes gre_tunnel() {
    bytes inner = ipf::ipv4(1, ipf::icmp(8, 0, hex("0001 0001 6e6f64726978")));
    return ipf::ethernet(0x0800, ipf::ipv4(47, test::concat({hex("0000 0800"), inner})));
}

TEST(JsonLayout, LinesFollowTheLoaderRules) {
    struct {
        const char* name;
        std::function<std::string()> line;
        std::vector<std::string> present;
        std::vector<std::string> absent;
    } cases[] = {
        {"a time before 1970 is exact",
         [] { return line_of(-2, 1, [] { layer(cx, "x", ""); }); },
         {"\"time\":\"1969-12-31T23:59:58.000001Z\",\"epoch_ns\":-1999999000,"},
         {}},
        {"a pcapng stamp near 2^64 microseconds is exact",
         [] { return line_of(18446744073709, 551615, [] { layer(cx, "x", ""); }); },
         {"\"epoch_ns\":18446744073709551615000,"},
         {}},
        {"a damaged microsecond count carries into the seconds",
         [] { return line_of(10, 2500000, [] { layer(cx, "x", ""); }); },
         {"\"time\":\"1970-01-01T00:00:12.500000Z\",\"epoch_ns\":12500000000,"},
         {}},
        {"64-bit unsigned values are unsigned",
         [] {
             return line_of(0, 0, [] {
                 layer(cx, "x", "");
                 field(cx, "big", "%lu", ~0UL);
                 field(cx, "small", "%ld", -5L);
             });
         },
         {"\"x\":{\"big\":18446744073709551615,\"small\":-5}"},
         {}},
        {"control bytes are escaped",
         [] {
             return line_of(0, 0, [] {
                 layer(cx, "x", "");
                 record_text(cx, "text", "a\x01\x1f\"\\\x7f");
             });
         },
         {R"("text":"a\u0001\u001f\"\\\u007f")"},
         {}},
        {"well-formed UTF-8 stays as it is, every byte of a broken sequence is escaped",
         [] {
             return line_of(0, 0, [] {
                 layer(cx, "x", "");
                 // Two-, three- and four-byte letters; then a stray continuation
                 // byte, an overlong '/', a surrogate, a code point beyond
                 // U+10FFFF, a lead byte that is never valid and a cut sequence.
                 record_text(cx, "good",
                             "Fa\xc3\xa7"
                             "ade \xe2\x82\xac \xf0\x9f\x93\xa1");
                 record_text(cx, "bad", "\x80|\xc0\xaf|\xed\xa0\x80|\xf4\x90\x80\x80|\xff|\xe2\x82");
             });
         },
         {"\"good\":\"Fa\xc3\xa7"
          "ade \xe2\x82\xac \xf0\x9f\x93\xa1\"",
          R"("bad":"\u0080|\u00c0\u00af|\u00ed\u00a0\u0080|\u00f4\u0090\u0080\u0080|\u00ff|\u00e2\u0082")"},
         {}},
        {"a name that is only unknown is left out",
         [] {
             return line_of(0, 0, [] {
                 layer(cx, "x", "");
                 field(cx, "type", "%u", 99u);
                 print_name(cx, "type", "unknown");
                 field(cx, "code", "%u", 1u);
                 print_name(cx, "code", "Unknown");
             });
         },
         {"\"x\":{\"type\":99,\"code\":1}"},
         {"_name"}},
        {"a key stated twice keeps its first value",
         [] {
             return line_of(0, 0, [] {
                 layer(cx, "x", "");
                 field(cx, "type", "%u", 1u);
                 field(cx, "length", "%u", 4u);
                 field(cx, "type", "%u", 2u);
                 record_text(cx, "length", "again");
             });
         },
         {"\"x\":{\"type\":1,\"length\":4}"},
         {"again"}},
        {"a repeated protocol goes to <proto>_inner, in order",
         [] {
             return line_of(0, 0, [] {
                 layer(cx, "a", "");
                 field(cx, "n", "%d", 1);
                 layer(cx, "b", "");
                 layer(cx, "a", "");
                 field(cx, "n", "%d", 2);
                 layer(cx, "a", "");
                 field(cx, "n", "%d", 3);
             });
         },
         {"\"stack\":[\"a\",\"b\",\"a\",\"a\"],\"a\":{\"n\":1},\"a_inner\":[{\"n\":2},{\"n\":3}],\"b\":{}}"},
         {}},
        {"the SNMP Counter64 keeps its key as a number, text values get their own",
         [] { return decoded_line(appf::udp4(snmp_counter64(), 161, 40001)); },
         {"\"value_text\":\"Linux box\"", "\"value\":18446744073709551615"},
         {"\"value\":\"", "\"value\":-1"}},
        {"a tunnel's inner IPv4 header is ipv4_inner",
         [] { return decoded_line(gre_tunnel()); },
         {"\"stack\":[\"ethernet\",\"ipv4\",\"gre\",\"ipv4\",\"icmp\"]", "\"ipv4_inner\":[{\"version\":4,",
          "\"icmp\":{\"type\":8,"},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string line = c.line();
        EXPECT_TRUE(test::valid_json(line)) << line;
        for (const std::string& p : c.present) EXPECT_NE(line.find(p), std::string::npos) << p << "\n" << line;
        for (const std::string& a : c.absent) EXPECT_EQ(line.find(a), std::string::npos) << a << "\n" << line;
    }
}

}  // namespace
