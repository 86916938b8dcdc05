#include "decode/ip/tcp.h"

#include <gtest/gtest.h>

#include "decode/decoder.h"
#include "ip_frames.h"
#include "output/tcp_stream.h"

namespace {

using test::bytes;
using test::hex;

std::string tcp_part(const std::string& out) { return ipf::slice(out, "- TCP Header -"); }

std::string collected() {
    return test::capture_output([] { print_collected_payload(); });
}

TEST(Tcp, HeaderLines) {
    bytes segment = ipf::tcp(0x18, hex("6869"));
    test::reset({"statistic"});
    EXPECT_EQ(tcp_part(ipf::decode_ip(ipf::ipv4(6, segment))),
              "- TCP Header -\n  Src Port: 40001, Dst Port: 40002\n  Seq.: 1000\n  Ack-Seq.: 2000, Data-Offset: 20\n"
              "  Flag(s): PA\n  Win-Size: 5840, Urg-Ptr: 0x0000\n  Checksum: " +
                  ipf::hex16(ipf::be16_at(segment, 16)) + "\n");
    EXPECT_EQ(counters.tcp, 1u);
    test::reset({"verbose"});
    std::string out = tcp_part(ipf::decode_ip(ipf::ipv4(6, ipf::tcp(0xc1, {}))));
    EXPECT_NE(out.find("  Src Port: 40001 (unknown), Dst Port: 40002 (unknown)\n"), std::string::npos);
    EXPECT_NE(out.find("  Flag(s): Fin ECE CWR \n"), std::string::npos);
}

TEST(Tcp, OptionsWalk) {
    struct {
        const char* options;
        bool verbose;
        const char* text;
    } cases[] = {
        {"020405b4 0402 080a0012d68700000000 01 030307", false,
         "  Options: [ <MSS 1460> <SAck ok> <TSopt TSval=1234567 TSecr=0> <NOP> <WSopt 7> ]\n"},
        {"020405b4 0402 080a0012d68700000000 01 030307", true,
         "  Options(20 bytes): [ <Maximum Segment Size 1460> <Selective Ack ok> <Timestamp TSval=1234567 TSecr=0> "
         "<No Operation> <Window Scale Factor 7> ]\n"},
        // The SACK blocks are skipped by the option's length, not read as options.
        {"0101 050a 01010101 02040000", false, "  Options: [ <NOP> <NOP> <SAck> ]\n"},
        {"0101 0512 0000000a 00000014 0000001e 00000028", true,
         "  Options(20 bytes): [ <No Operation> <No Operation> <Selective Ack> ]\n"},
        {"0e0301 0e0305 0e0300 000000", true,
         "  Options(12 bytes): [ <Alternate Checksum Req. Type 1 (8-Bit)> <Alternate Checksum Req. Type 5 (unknown)> "
         "<Alternate Checksum Req. Type 0 (TCP)> <End of List> ]\n"},
        // An unknown kind, or a length of 0, ends the decoding of options.
        {"0110 0401 0101 0100", false, "  Options: [ <NOP> ]\n"},
        {"020005b4 01010101", false, "  Options: [ <MSS 1460> ]\n"},
    };
    for (const auto& c : cases) {
        if (c.verbose)
            test::reset({"verbose"});
        else
            test::reset();
        std::string out = ipf::decode_ip(ipf::ipv4(6, ipf::tcp(0x02, {}, hex(c.options))));
        EXPECT_EQ(ipf::slice(out, "  Options"), c.text) << c.options;
    }
}

TEST(Tcp, FlagErrors) {
    struct {
        uint8_t flags;
        const char* error;
    } cases[] = {
        {0x3f, "  Error: protocol error in flags(all set)\n"},
        {0xff, "  Error: protocol error in flags(all set)\n"},
        {0x06, "  Error: protocol error in flags(SYN & RST)\n"},
        {0x17, "  Error: protocol error in flags(SYN & RST)\n"},
        {0x00, "  Error: no flags set\n"},
        {0x02, nullptr},
        {0xc0, nullptr},
        {0x3a, nullptr},
    };
    for (const auto& c : cases) {
        test::reset({"statistic"});
        // The error follows the options.
        std::string out = tcp_part(ipf::decode_ip(ipf::ipv4(6, ipf::tcp(c.flags, {}, hex("01010101")))));
        if (c.error) {
            EXPECT_EQ(out.substr(out.size() - strlen(c.error)), c.error) << int{c.flags};
            EXPECT_NE(out.find(" ]\n  Error"), std::string::npos);
            EXPECT_EQ(counters.tcp_error, 1u);
        } else {
            EXPECT_EQ(out.find("Error"), std::string::npos) << int{c.flags};
            EXPECT_EQ(counters.tcp_error, 0u);
        }
    }
}

TEST(Tcp, PayloadDumps) {
    bytes packet = ipf::ipv4(6, ipf::tcp(0x02, hex("41 0a 42")));
    test::reset({"print-tcp-hex"});
    EXPECT_EQ(ipf::slice(ipf::decode_ip(packet), "\n0x0001"), "\n0x0001: 41 0a 42\n");
    test::reset({"print-tcp-text"});
    std::string out = ipf::decode_ip(packet);
    EXPECT_EQ(out.substr(out.size() - 7), " \n A.B\n");
    test::reset({"print-tcp-text", "print-tcp-hex"});
    out = ipf::decode_ip(packet);
    // With both, neither: the output ends with the checksum line.
    EXPECT_EQ(ipf::slice(tcp_part(out), "  Checksum:").size(), 19u) << out;

    // The payload runs to the end of the frame as far as it was captured.
    test::reset({"print-tcp-hex"});
    out = ipf::decode_ip(ipf::ipv4(6, ipf::tcp(0x18, hex("0102030405"))), 43, 45);
    EXPECT_EQ(ipf::slice(out, "\n0x0001"), "\n0x0001: 01 02 03\n");
}

TEST(Tcp, OddDataOffsets) {
    // A data offset below 5: no options, the payload still behind byte 20.
    bytes segment = ipf::tcp(0x18, hex("414243"));
    segment[12] = 0x30;
    test::reset({"print-tcp-hex"});
    std::string out = tcp_part(ipf::decode_ip(ipf::ipv4(6, segment)));
    EXPECT_NE(out.find("Data-Offset: 12\n"), std::string::npos);
    EXPECT_EQ(out.find("Options"), std::string::npos);
    EXPECT_EQ(ipf::slice(out, "\n0x0001"), "\n0x0001: 41 42 43\n");

    // A data offset beyond the frame: options read as far as captured, then
    // the marker; no payload.
    segment = ipf::tcp(0x18, hex("01010101"));
    segment[12] = 0xf0;
    out = ipf::decode_ip(ipf::ipv4(6, segment));
    EXPECT_NE(out.find("Options: [ <NOP> <NOP> <NOP> <NOP>\n  [malformed:"), std::string::npos) << out;
}

TEST(Tcp, ChecksumVerdicts) {
    bytes segment = ipf::tcp(0x18, hex("68656c6c6f"));
    uint16_t good = ipf::be16_at(segment, 16);
    test::reset({"calc-checksums", "statistic"});
    EXPECT_NE(ipf::decode_ip(ipf::ipv4(6, segment)).find(ipf::hex16(good) + " (correct checksum)\n"),
              std::string::npos);

    // A payload byte changed: the verdict names the checksum of the changed
    // segment.
    bytes changed = segment;
    changed[22] ^= 0x20;
    uint16_t should_be = ipf::be16_at(ipf::tcp(0x18, hex("68654c6c6f")), 16);
    EXPECT_NE(ipf::decode_ip(ipf::ipv4(6, changed))
                  .find(ipf::hex16(good) + " (incorrect checksum - should be " + ipf::hex16(should_be) + ")\n"),
              std::string::npos);
    EXPECT_EQ(counters.tcp_bad, 1u);

    // Ethernet padding is not part of the segment.
    std::string out = ipf::decode_ethernet_frame(
        test::concat({ipf::ethernet(0x0800, ipf::ipv4(6, ipf::tcp(0x10, {}))), hex("ffff")}));
    EXPECT_NE(out.find("(correct checksum)\n"), std::string::npos);
    EXPECT_EQ(counters.tcp_bad, 1u);

    // Cut by the snap length: no verdict, nothing counted.
    out = ipf::decode_ip(ipf::ipv4(6, changed), 42, 45);
    EXPECT_NE(out.find("  Checksum: " + ipf::hex16(good) + "\n"), std::string::npos) << out;
    EXPECT_EQ(counters.tcp_bad, 1u);

    // Behind IPv6 the checksum covers the IPv6 pseudo-header: the value
    // made for IPv4 is wrong there.
    out = ipf::decode_ip(ipf::ipv6(6, changed));
    EXPECT_NE(out.find("  Checksum: " + ipf::hex16(good) + " (incorrect checksum - should be 0x"), std::string::npos)
        << out;
    EXPECT_EQ(counters.tcp_bad, 2u);

    // Without --calc-checksums, nothing is judged.
    test::reset({"statistic"});
    EXPECT_EQ(ipf::decode_ip(ipf::ipv4(6, changed)).find("checksum)"), std::string::npos);
}

TEST(TcpStream, CollectsDataSegmentsInCaptureOrder) {
    test::reset({"print-tcp-stream"});
    std::string before = collected();
    ASSERT_EQ(before.substr(0, 21), "\nCollected Payload: \"");
    ipf::decode_ip(ipf::ipv4(6, ipf::tcp(0x18, hex("6162"))));      // PA "ab"
    ipf::decode_ip(ipf::ipv4(6, ipf::tcp(0x10, {})));               // A, nothing
    ipf::decode_ip(ipf::ipv4(6, ipf::tcp(0x11, hex("7a7a"))));      // FA: no data
    ipf::decode_ip(ipf::ipv4(6, ipf::tcp(0x02, hex("7a7a"))));      // S: no data
    ipf::decode_ip(ipf::ipv4(6, ipf::tcp(0x19, hex("63"))));        // FPA "c"
    ipf::decode_ip(ipf::ipv6(6, ipf::tcp(0x10, hex("64 00 0a"))));  // A over IPv6
    std::string want = before.substr(0, before.size() - 2) + "abcd..\"\n";
    EXPECT_EQ(collected(), want);
    // Printing again gives the same text.
    EXPECT_EQ(collected(), want);
    // Without the option nothing is collected.
    test::reset();
    ipf::decode_ip(ipf::ipv4(6, ipf::tcp(0x18, hex("7a"))));
    EXPECT_EQ(collected(), want);
}

TEST(TcpStream, PeakMemoryGrowsWithTheBytesCollected) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's shadow memory makes the figure meaningless";
#endif
    // 100,000 data segments of 100 bytes each: about 10 MB of payload.
    test::temp_dir dir;
    std::string path = dir.file("stream.pcap");
    {
        bytes frame = ipf::ethernet(0x0800, ipf::ipv4(6, ipf::tcp(0x18, bytes(100, 'x'))));
        bytes file = test::pcap_file({{frame}});
        FILE* f = fopen(path.c_str(), "wb");
        ASSERT_TRUE(f);
        fwrite(file.data(), 1, file.size(), f);
        bytes record(file.end() - static_cast<long>(frame.size() + 16), file.end());
        for (int i = 1; i < 100000; ++i) fwrite(record.data(), 1, record.size(), f);
        fclose(f);
    }
    // The peak of this one run: a process of its own whose only child is
    // nodrix (this test process may have run bigger children before).
    test::measured_run r =
        test::run_measured({"-P", path, "--print-tcp-stream", "--quiet"}, "/dev/null", dir.file("err"));
    ASSERT_EQ(r.status, 0);
    EXPECT_LT(r.peak_kib, 64 * 1024) << "peak resident set in KiB";
}

}  // namespace
