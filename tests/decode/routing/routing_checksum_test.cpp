#include <gtest/gtest.h>

#include <algorithm>

#include "decode/context.h"
#include "decode/routing/egp.h"
#include "decode/routing/igrp.h"
#include "decode/routing/irtp.h"
#include "decode/routing/pim.h"
#include "pipeline/frame_loop.h"
#include "routing_harness.h"
#include "support.h"

namespace {

// The context the test helpers decode in.
decode_context& cx = frame_loop_main_context();

using routing_test::full_form;
using routing_test::short_form;

// The message with a checksum over its first `covered` bytes (all of them
// unless given) in the field at `at`.
test::bytes summed(test::bytes m, size_t at, size_t covered = SIZE_MAX) {
    test::put_be16(m, at, 0);
    covered = std::min(covered, m.size());
    test::put_be16(m, at, test::inet_checksum(test::bytes(m.begin(), m.begin() + static_cast<long>(covered))));
    return m;
}
test::bytes with_checksum(const char* hex, size_t at, size_t covered = SIZE_MAX) {
    return summed(test::hex(hex), at, covered);
}

std::string checksum_text(const test::bytes& m, size_t at) {
    char text[16];
    snprintf(text, sizeof text, "0x%04x", m[at] << 8 | m[at + 1]);
    return text;
}

// A PIMv2 hello with holdtime and DR priority options, and an IRTP data
// packet with four data bytes.
const char* pim_hello = "2000 0000 0001 0002 0069 0013 0004 00000001";
const char* irtp_data = "02 05 03e8 000c 0000 deadbeef";

TEST(MessageChecksums, CoverTheMessageToTheEndOfItsIpPayload) {
    struct {
        link_decoder decoder;
        test::bytes message;
        size_t field;
        uint32_t protocol_counters::*bad;
    } cases[] = {
        {full_form<decode_egp>, with_checksum("0205 0001 0000 fde9 000a", 4), 4, &protocol_counters::egp_bad},
        {full_form<decode_igrp>, with_checksum("1105 0064 0001 0000 0000 0000 0a0100 0001 00271005dcff0101", 10), 10,
         &protocol_counters::igrp_bad},
        {full_form<decode_eigrp>, with_checksum("0205 0000 00000001 00000000 00000000 00000064 0001000c", 2), 2,
         &protocol_counters::eigrp_bad},
        {short_form<decode_pim>, with_checksum(pim_hello, 2), 2, &protocol_counters::pimv2_bad},
        {full_form<decode_irtp>, with_checksum(irtp_data, 6), 6, &protocol_counters::irtp_bad},
    };
    // Non-zero padding behind the IP payload, as some cards pad short frames.
    const test::bytes padding = test::hex("a5a5a5a5 a5a5a5a5 5a");
    for (auto& c : cases) {
        std::string right = checksum_text(c.message, c.field);
        SCOPED_TRACE(right);
        routing_test::ip_payload_length = c.message.size();
        test::reset({"calc-checksums", "statistic"});
        auto padded = test::concat({c.message, padding});
        EXPECT_NE(test::decode(c.decoder, padded).find(right + " (correct checksum)"), std::string::npos);

        // Summing the padding, or only the header, is caught and the
        // verdict shows what the field should hold.
        auto over_padding = summed(padded, c.field);
        auto header_only = summed(c.message, c.field, c.field + 2);
        for (const auto& wrong : {over_padding, header_only})
            EXPECT_NE(test::decode(c.decoder, wrong).find(" (incorrect checksum - should be " + right + ")"),
                      std::string::npos);
        EXPECT_EQ(counters.*c.bad, 2u);

        // Cut by the snap length inside the message: no verdict, no count.
        std::string cut = test::decode(c.decoder, padded, 0, static_cast<long>(c.message.size() - 1));
        EXPECT_EQ(cut.find("checksum)"), std::string::npos) << cut;
        EXPECT_EQ(counters.*c.bad, 2u);

        test::reset({"statistic"});
        EXPECT_EQ(test::decode(c.decoder, over_padding).find("checksum)"), std::string::npos);
        EXPECT_EQ(counters.*c.bad, 0u);
    }
    routing_test::ip_payload_length = 0;
}

TEST(MessageChecksums, PimSpecialCases) {
    test::reset({"calc-checksums", "statistic"});
    // A Register covers its header and flags word, not the packet it carries.
    auto reg = with_checksum("2100 0000 00000000 4500001c00010000", 2, 8);
    EXPECT_NE(test::decode(short_form<decode_pim>, reg).find("(correct checksum)"), std::string::npos);
    // Behind IPv6 the sum would need the IPv6 pseudo-header: not judged.
    auto wrong = test::hex(pim_hello);
    EXPECT_EQ(test::decode(short_form<decode_pim_over_ipv6>, wrong).find("checksum)"), std::string::npos);
    // Versions other than 1 and 2 are judged but counted nowhere.
    EXPECT_NE(test::decode(short_form<decode_pim>, test::hex("3000 0000")).find("(incorrect"), std::string::npos);
    EXPECT_EQ(counters.pimv1_bad + counters.pimv2_bad, 0u);
    EXPECT_EQ(counters.pimv1 + counters.pimv2, 2u);
}

TEST(MessageChecksums, VerdictLeavesTheFrameAsCaptured) {
    test::reset({"calc-checksums"});
    auto frame = with_checksum(pim_hello, 2);
    const auto original = frame;
    frame_lengths lengths{static_cast<uint32_t>(frame.size()), static_cast<uint32_t>(frame.size())};
    std::string out = test::capture_output([&] { decode_frame(cx, short_form<decode_pim>, &lengths, frame.data()); });
    EXPECT_NE(out.find("(correct checksum)"), std::string::npos);
    EXPECT_EQ(frame, original);
}

test::bytes padded_ipv4_frame(uint8_t protocol, const test::bytes& payload) {
    auto ip = test::hex("4500 0000 0001 0000 01 00 0000 0a000001 e000000d");
    test::put_be16(ip, 2, static_cast<uint16_t>(20 + payload.size()));
    ip[9] = protocol;
    test::put_be16(ip, 10, test::inet_checksum(ip));
    auto frame = test::concat({test::hex("01005e00000d 020000000001 0800"), ip, payload});
    frame.resize(std::max<size_t>(frame.size(), 60), 0xa5);
    return frame;
}

TEST(MessageChecksums, EndToEndVerdictsAndAnIdenticalRawLog) {
    auto pim = with_checksum(pim_hello, 2), irtp = with_checksum(irtp_data, 6);
    auto pcap = test::pcap_file({{padded_ipv4_frame(103, pim)}, {padded_ipv4_frame(28, irtp)}});
    test::temp_dir dir;
    test::write_file(dir.file("in.pcap"), pcap);
    auto r = test::run_nodrix({"-P", dir.file("in.pcap"), "--calc-checksums", "-r", dir.file("raw.pcap")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("- PIM Header -\n  Version: 2\n  Type: 0\n  Reserved: 0\n  Checksum: " +
                         checksum_text(pim, 2) + " (correct checksum)\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("- IRTP Header -\n  Type: 2\n  Port: 5, Sequence number: 1000\n  Length: 12, Checksum: " +
                         checksum_text(irtp, 6) + " (correct checksum)\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(test::read_file(dir.file("raw.pcap")), pcap);
}

}  // namespace
