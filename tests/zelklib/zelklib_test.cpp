#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "support.h"
#include "zelk.h"

namespace {

TEST(Checksum, OddLengthPadsTheLastByteAsHighOrder) {
    const uint8_t odd[] = {0x01, 0x02, 0x03};
    const uint8_t padded[] = {0x01, 0x02, 0x03, 0x00};
    EXPECT_EQ(zelk_in_cksum(odd, 3, 0), zelk_in_cksum(padded, 4, 0));
    EXPECT_EQ(zelk_in_cksum(odd, 0, 0), 0xffff);
}

TEST(Checksum, IntactIpv4HeaderSumsToZero) {
    auto header = test::hex("4500 0028 0001 0000 4006 66cd 0a00 0001 0a00 0002");
    EXPECT_EQ(zelk_in_cksum(header.data(), 20, 0), 0);
    header[8] = 0x3f;
    EXPECT_NE(zelk_in_cksum(header.data(), 20, 0), 0);
}

TEST(Checksum, StoredTransportChecksumsVerify) {
    // IPv4 + TCP (SYN, no payload) and IPv4 + UDP with 4 payload bytes.
    auto tcp = test::hex("4500 0028 0001 0000 4006 0000 0a00 0001 0a00 0002"
                         "9c41 9c42 0000 03e8 0000 07d0 5002 2000 ffff 0000");
    auto udp = test::hex("4500 0020 0001 0000 4011 0000 0a00 0001 0a00 0002"
                         "9c41 9c42 000c ffff 6162 6364");
    struct {
        test::bytes* packet;
        int protocol;
        int (*verify)(const void*);
    } cases[] = {{&tcp, 6, zelk_tcp_checksum}, {&udp, 17, zelk_udp_checksum}};
    for (auto& c : cases) {
        int length = static_cast<int>(c.packet->size()) - 20;
        ASSERT_EQ(zelk_checksum(c.packet->data(), c.protocol, length), 1);
        memcpy(&zelk_pseudo_header.source, c.packet->data() + 12, 4);
        memcpy(&zelk_pseudo_header.destination, c.packet->data() + 16, 4);
        zelk_pseudo_header.length = static_cast<uint16_t>(zelk_htons(static_cast<uint16_t>(length)));
        EXPECT_EQ(c.verify(c.packet->data() + 20), 0) << "protocol " << c.protocol;
    }
}

TEST(Checksum, UnknownProtocolIsRefusedAndLeavesThePacket) {
    auto icmp = test::hex("4500 001c 0001 0000 4001 0000 0a00 0001 0a00 0002 0800 1234 0001 0001");
    auto before = icmp;
    testing::internal::CaptureStderr();
    EXPECT_EQ(zelk_checksum(icmp.data(), 1, 8), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error: zelk_checksum: Unknown transport layer protocol!\n");
    EXPECT_EQ(icmp, before);
}

TEST(Text, MacAddressesAndPrefixes) {
    const uint8_t mac[] = {0x00, 0x0a, 0xff, 0x10, 0x20, 0x3b};
    EXPECT_STREQ(zelk_mac_to_text(mac), "00:0a:ff:10:20:3b");
    const uint8_t* parsed = zelk_text_to_mac("01:23:45:67:89:ab");
    EXPECT_EQ(memcmp(parsed, "\x01\x23\x45\x67\x89\xab", 6), 0);
    uint32_t address = zelk_htonl(0xc0a80a7f);  // 192.168.10.127
    char* prefix = zelk_prefix_to_text(address, 24);
    EXPECT_STREQ(prefix, "192.168.10.0");
    free(prefix);
    prefix = zelk_prefix_to_text(address, 32);
    EXPECT_STREQ(prefix, "192.168.10.127");
    free(prefix);
}

TEST(Text, ServiceNamesFallBackToUnknown) {
    char* unknown = zelk_service_name(1, "udp");
    char* known = zelk_service_name(22, "tcp");
    EXPECT_STREQ(unknown, "unknown");
    // The services database of the machine names 22 (ssh) unless it is absent.
    EXPECT_TRUE(strcmp(known, "ssh") == 0 || strcmp(known, "unknown") == 0) << known;
    EXPECT_STREQ(zelk_service_name_cached(22, "tcp"), known);
    EXPECT_STREQ(zelk_service_name_cached(22, "tcp"), known);
    free(unknown);
    free(known);
}

TEST(Text, TimeStringFormat) {
    const char* text = zelk_time_string();
    // "09:05:03 06 Dec 2026"
    ASSERT_EQ(strlen(text), 20u) << text;
    EXPECT_EQ(text[2], ':');
    EXPECT_EQ(text[5], ':');
    EXPECT_EQ(text[8], ' ');
}

TEST(Vendors, FirstRowWinsAndUnknownPrefixes) {
    const uint8_t cisco[] = {0x00, 0x00, 0x0c, 0x12, 0x34, 0x56};
    const uint8_t os9[] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x01};
    const uint8_t local[] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
    const uint8_t dec[] = {0xaa, 0x00, 0x04, 0x00, 0x00, 0x01};
    EXPECT_STREQ(zelk_vendor_name(cisco), "Cisco                         ");
    EXPECT_STREQ(zelk_vendor_name(os9), "OS/9 Network                  ");
    EXPECT_STREQ(zelk_vendor_name(local), "Unknown");
    EXPECT_STREQ(zelk_vendor_name(dec), "DIGITAL EQUIPMENT CORPORATION ");
    // Registry names are cut to 49 bytes and padded to 30.
    const uint8_t intel[] = {0x00, 0xaa, 0x00, 0, 0, 0};
    EXPECT_EQ(strlen(zelk_vendor_name(intel)), 30u);
}

TEST(Messages, QuietModesSilenceThePrinters) {
    struct {
        void (*setup)();
        bool out, err_to_out, err_to_err;
    } cases[] = {
        {[] {}, true, true, true},
        {zelk_set_quiet, false, false, true},
        {zelk_set_really_quiet, false, false, false},
    };
    for (const auto& c : cases) {
        test::reset();
        c.setup();
        std::string out = test::capture_output([] {
            zelk_printf("a");
            zelk_fprintf(zelk_output(), "b");
        });
        testing::internal::CaptureStderr();
        zelk_fprintf(stderr, "c");
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(out, std::string(c.out ? "a" : "") + (c.err_to_out ? "b" : ""));
        EXPECT_EQ(err, c.err_to_err ? "c" : "");
    }
    test::reset();
    zelk_set_quiet();
    zelk_clear_quiet();
    EXPECT_EQ(test::capture_output([] { zelk_printf("x"); }), "x");
    EXPECT_EQ(zelk_toggle_really_quiet(), 1);
    EXPECT_EQ(zelk_toggle_really_quiet(), 0);
}

}  // namespace
