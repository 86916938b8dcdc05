// Capture files in their modern forms (pcapng, gzip, standard input), the
// link types of Linux monitor-mode and raw-IP captures, and the installed
// program with its man page and shell completion.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "support.h"

namespace {

using test::bytes;
using test::hex;

// IPv4 (10.0.0.1 -> 10.0.0.2) carrying UDP 12345 -> 9999 with four bytes.
bytes ipv4_udp() {
    bytes ip = hex("45000020 00010000 40110000 0a000001 0a000002");
    test::put_be16(ip, 10, test::inet_checksum(ip));
    return test::concat({ip, hex("3039 270f 000c 0000 61626364")});
}

bytes ethernet_frame() { return test::concat({hex("020000000002 020000000001 0800"), ipv4_udp()}); }

// A little-endian pcapng file: section header, one interface with
// microsecond time stamps, one enhanced packet block per record.
bytes pcapng_file(const std::vector<test::pcap_record>& records, uint16_t link_type = 1) {
    bytes out;
    auto le32 = [&out](uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    auto le16 = [&out](uint16_t v) {
        out.push_back(static_cast<uint8_t>(v));
        out.push_back(static_cast<uint8_t>(v >> 8));
    };
    le32(0x0a0d0d0a);
    le32(28);
    le32(0x1a2b3c4d);
    le16(1);
    le16(0);
    le32(0xffffffff);  // section length unknown
    le32(0xffffffff);
    le32(28);

    le32(1);
    le32(20);
    le16(link_type);
    le16(0);
    le32(65535);
    le32(20);

    for (const auto& r : records) {
        uint32_t cap = r.captured < 0 ? static_cast<uint32_t>(r.data.size()) : static_cast<uint32_t>(r.captured);
        uint32_t wire = r.wire < 0 ? static_cast<uint32_t>(r.data.size()) : static_cast<uint32_t>(r.wire);
        uint32_t padded = (cap + 3) & ~3u;
        uint64_t stamp = uint64_t{r.seconds} * 1000000 + r.microseconds;
        le32(6);
        le32(32 + padded);
        le32(0);
        le32(static_cast<uint32_t>(stamp >> 32));
        le32(static_cast<uint32_t>(stamp));
        le32(cap);
        le32(wire);
        out.insert(out.end(), r.data.begin(), r.data.begin() + cap);
        out.insert(out.end(), padded - cap, 0);
        le32(32 + padded);
    }
    return out;
}

void write_gzip(const std::string& path, const bytes& data) {
    gzFile gz = gzopen(path.c_str(), "wb");
    ASSERT_NE(gz, nullptr);
    ASSERT_EQ(gzwrite(gz, data.data(), static_cast<unsigned>(data.size())), static_cast<int>(data.size()));
    ASSERT_EQ(gzclose(gz), Z_OK);
}

std::string shell_quoted(const std::string& s) { return "'" + s + "'"; }

// Output without the first line, which names the file read.
std::string after_first_line(const std::string& out) {
    size_t end = out.find('\n');
    return end == std::string::npos ? out : out.substr(end + 1);
}

std::vector<test::pcap_record> some_frames() {
    bytes frame = ethernet_frame();
    return {
        {frame, 45296, 17},
        {frame, 86399, 500000},
        // Cut by the snap length.
        {frame, 86400 + 60, 999999, -1, 30},
    };
}

TEST(CaptureFiles, PcapPcapngAndGzipDecodeAlike) {
    test::temp_dir dir;
    bytes pcap = test::pcap_file(some_frames());
    bytes pcapng = pcapng_file(some_frames());
    test::write_file(dir.file("a.pcap"), pcap);
    test::write_file(dir.file("a.pcapng"), pcapng);
    write_gzip(dir.file("a.pcap.gz"), pcap);
    write_gzip(dir.file("a.pcapng.gz"), pcapng);
    // The magic bytes decide, not the name.
    write_gzip(dir.file("compressed.pcap"), pcapng);

    auto reference = test::run_nodrix({"-P", dir.file("a.pcap"), "--expand-all", "-v"});
    ASSERT_EQ(reference.status, 0) << reference.err;
    std::string decoded = after_first_line(reference.out);
    ASSERT_NE(decoded.find(test::frame_line(3, 30, 46, 58, 999999)), std::string::npos) << decoded;
    ASSERT_NE(decoded.find("- UDP Header -"), std::string::npos) << decoded;

    for (const char* name : {"a.pcapng", "a.pcap.gz", "a.pcapng.gz", "compressed.pcap"}) {
        auto r = test::run_nodrix({"-P", dir.file(name), "--expand-all", "-v"});
        EXPECT_EQ(r.status, 0) << name << r.err;
        EXPECT_EQ(r.out, "Read packet(s) from file: " + dir.file(name) + ".\n" + decoded) << name;
    }
    // Standard input, plain and compressed.
    for (const char* name : {"a.pcap", "a.pcapng.gz"}) {
        auto r = test::shell(std::string(NODRIX_BINARY) + " -P - --expand-all -v < " + shell_quoted(dir.file(name)));
        EXPECT_EQ(r.status, 0) << name;
        EXPECT_EQ(r.out, "Read packet(s) from file: -.\n" + decoded) << name;
    }
}

TEST(CaptureFiles, DamagedCompressedFilesFailLikePlainOnes) {
    test::temp_dir dir;
    bytes pcap = test::pcap_file(some_frames());
    // Cut in the middle of the last record.
    bytes cut(pcap.begin(), pcap.end() - 10);
    test::write_file(dir.file("cut.pcap"), cut);
    write_gzip(dir.file("cut.pcap.gz"), cut);
    auto plain = test::run_nodrix({"-P", dir.file("cut.pcap")});
    auto compressed = test::run_nodrix({"-P", dir.file("cut.pcap.gz")});
    EXPECT_EQ(compressed.status, plain.status);
    EXPECT_EQ(after_first_line(compressed.out), after_first_line(plain.out));

    // A compressed stream that stops short, and compressed bytes that are
    // no capture file.
    bytes gz = test::read_file(dir.file("cut.pcap.gz"));
    test::write_file(dir.file("short.gz"), bytes(gz.begin(), gz.begin() + gz.size() / 2));
    auto r = test::run_nodrix({"-P", dir.file("short.gz")});
    EXPECT_NE(r.status, 0);
    write_gzip(dir.file("text.gz"), bytes(64, 'x'));
    r = test::run_nodrix({"-P", dir.file("text.gz")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("Error: Can't open pcap file " + dir.file("text.gz") + ", because: ", 0), 0u) << r.err;
}

TEST(CaptureFiles, RawIpLinkTypes) {
    test::temp_dir dir;
    bytes ipv6 =
        hex("60000000 0008 11 40 fe800000000000000000000000000001 fe800000000000000000000000000002"
            "3039 270f 0008 0000");
    struct {
        uint32_t link_type;
        bytes packet;
        const char* banner;
    } cases[] = {{228, ipv4_udp(), "\n- IPv4 Header -"}, {229, ipv6, "\n- IPv6 Header -"}};
    for (const auto& c : cases) {
        test::write_file(dir.file("raw.pcap"), test::pcap_file({{c.packet}}, c.link_type));
        auto r = test::run_nodrix({"-P", dir.file("raw.pcap")});
        EXPECT_EQ(r.status, 0) << r.err;
        size_t line = r.out.find(test::frame_line(1, c.packet.size(), c.packet.size()));
        ASSERT_NE(line, std::string::npos) << r.out;
        EXPECT_EQ(r.out.find(c.banner), line + test::frame_line(1, c.packet.size(), c.packet.size()).size())
            << c.link_type << r.out;
        EXPECT_NE(r.out.find("- UDP Header -\n  Src Port: 12345"), std::string::npos) << r.out;
    }
}

TEST(CaptureFiles, MonitorModeCaptureWithRadiotap) {
    test::temp_dir dir;
    // TSFT, flags, rate, channel, antenna signal and noise, antenna; then
    // an 802.11 data frame from the access point carrying LLC/SNAP/IPv4.
    bytes frame = test::concat({hex("0000 1900 6f080000 5634120000000000 00 0b 8509a000 d8 a1 01"
                                    "0802 2c00 021111111111 022222222222 023333333333 5006 aaaa03 000000 0800"),
                                ipv4_udp()});
    test::write_file(dir.file("wlan.pcap"), test::pcap_file({{frame}}, 127));
    write_gzip(dir.file("wlan.pcapng.gz"), pcapng_file({{frame}}, 127));
    for (const char* name : {"wlan.pcap", "wlan.pcapng.gz"}) {
        auto r = test::run_nodrix({"-P", dir.file(name), "-v"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find(test::frame_line(1, frame.size(), frame.size()) +
                             "\n- Radiotap Header -\n  Version: 0, Length: 25\n  Present: 0x0000086f\n"
                             "  TSFT: 1193046 us\n  Flags: 0x00\n  Rate: 5.5 Mb/s\n"
                             "  Channel: 2437 MHz, Flags: 0x00a0 (CCK, 2 GHz)\n  Antenna Signal: -40 dBm\n"
                             "  Antenna Noise: -95 dBm\n  Antenna: 1\n\n- 802.11 Header -\n"
                             "  Version: 0, Type: 2 (Data)\n  Subtype: 0 (Data)\n  Duration/ID: 44\n"),
                  std::string::npos)
            << r.out;
        EXPECT_NE(r.out.find("  DA: 02:11:11:11:11:11\n  BSSID: 02:22:22:22:22:22\n  SA: 02:33:33:33:33:33\n"
                             "  Fragment Number: 0, Sequence Number: 101\n- LLC Header -"),
                  std::string::npos)
            << r.out;
        EXPECT_NE(r.out.find("  Src IP: 10.0.0.1"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("- UDP Header -\n  Src Port: 12345"), std::string::npos) << r.out;
    }
}

std::string read_text(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The completion script's two option lists: with and without argument.
std::vector<std::string> completion_words(const std::string& script, const std::string& list) {
    size_t start = script.find("local " + list + "=\"");
    if (start == std::string::npos) return {};
    start = script.find('"', start) + 1;
    std::istringstream words(script.substr(start, script.find('"', start) - start));
    std::vector<std::string> out;
    for (std::string w; words >> w;) out.push_back(w);
    return out;
}

const std::string completion_path = std::string(NODRIX_SOURCE_DIR) + "/tools/completion/nodrix.bash";

TEST(Documentation, CompletionAndManPageCoverEveryOption) {
    std::string script = read_text(completion_path);
    std::string page = read_text(std::string(NODRIX_SOURCE_DIR) + "/docs/nodrix.1");
    auto with_argument = completion_words(script, "with_argument");
    auto without_argument = completion_words(script, "without_argument");
    std::set<std::string> all(with_argument.begin(), with_argument.end());
    all.insert(without_argument.begin(), without_argument.end());
    EXPECT_EQ(all.size(), 71u);
    EXPECT_EQ(with_argument.size() + without_argument.size(), 71u);
    for (const std::string& option : all) {
        // The page escapes every dash.
        std::string escaped;
        for (char c : option) escaped += c == '-' ? std::string("\\-") : std::string(1, c);
        EXPECT_NE(page.find(escaped), std::string::npos) << option << " is not in the man page";
    }
    // nodrix takes each option as listed: "-h" behind it ends the parsing
    // with the help text unless the option swallowed it as its argument.
    for (const auto& [options, argument] : {std::pair{with_argument, true}, std::pair{without_argument, false}}) {
        for (const std::string& option : options) {
            std::vector<std::string> args{option};
            if (argument) args.push_back(option == "--time-format" ? "epoch" : "1");
            args.push_back("-h");
            auto r = test::run_nodrix(args);
            EXPECT_EQ(r.status, 0) << option << ": " << r.err;
            // --help-all writes its text to standard output.
            bool help = (r.err + r.out).find("Usage: nodrix [Options]") != std::string::npos;
            EXPECT_TRUE(help || option == "--version") << option << ": " << r.err;
        }
    }
}

TEST(Documentation, BashCompletesLongOptionsAndFiles) {
    if (test::shell("command -v bash >/dev/null").status != 0) GTEST_SKIP() << "bash is not installed";
    test::temp_dir dir;
    test::write_file(dir.file("capture.pcap"), {});
    auto complete = [&](const std::string& words) {
        return test::shell("cd " + shell_quoted(dir.path) + " && bash -c 'source " + completion_path +
                           "; COMP_WORDS=(" + words +
                           "); COMP_CWORD=$((${#COMP_WORDS[@]}-1)); _nodrix;"
                           " printf \"%s\\n\" \"${COMPREPLY[@]}\"'")
            .out;
    };
    EXPECT_EQ(complete("nodrix --expand-al"), "--expand-all\n");
    EXPECT_EQ(complete("nodrix --print-tcp-"), "--print-tcp-hex\n--print-tcp-text\n--print-tcp-stream\n");
    EXPECT_EQ(complete("nodrix -P cap"), "capture.pcap\n");
    EXPECT_EQ(complete("nodrix --snaplen \"\""), "\n");
}

TEST(Installation, InstallsAWorkingProgramAndItsManPage) {
    std::string build = NODRIX_BUILD_DIR;
    if (!std::filesystem::exists(build + "/cmake_install.cmake")) GTEST_SKIP() << "no install script in " << build;
    test::temp_dir prefix;
    auto r = test::shell("cmake --install " + shell_quoted(build) + " --prefix " + shell_quoted(prefix.path) + " 2>&1");
    ASSERT_EQ(r.status, 0) << r.out;

    std::vector<std::string> files = {"bin/nodrix",
                                      "include/nodrix/module.h",
                                      "share/man/man1/nodrix.1.gz",
                                      "share/bash-completion/completions/nodrix",
                                      "share/doc/nodrix/copyright",
                                      "share/doc/nodrix/changelog.gz"};
    for (const auto& source : std::filesystem::directory_iterator(std::string(NODRIX_SOURCE_DIR) + "/modules"))
        if (source.path().extension() == ".c")
            files.push_back("lib/nodrix/modules/" + source.path().stem().string() + ".so");
    for (const auto& file : files)
        EXPECT_TRUE(std::filesystem::exists(prefix.file(file))) << file << " not installed:\n" << r.out;

    // The installed program runs and decodes, with an installed module.
    test::write_file(prefix.file("a.pcap"), test::pcap_file({{ethernet_frame()}}));
    r = test::shell(shell_quoted(prefix.file("bin/nodrix")) + " -P " + shell_quoted(prefix.file("a.pcap")) +
                    " --modules " + shell_quoted(prefix.file("lib/nodrix/modules")) + " 2>&1");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("- UDP Header -"), std::string::npos) << r.out;

    if (test::shell("command -v groff >/dev/null").status != 0) GTEST_SKIP() << "groff is not installed";
    // Warnings go to standard error, merged behind the page.
    const std::string page = "zcat " + shell_quoted(prefix.file("share/man/man1/nodrix.1.gz")) + " | ";
    r = test::shell(page + "groff -man -Tutf8 -ww 2>&1 >/dev/null");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "") << "groff warnings";
    // Plain text, without overstriking.
    r = test::shell(page + "groff -man -Tascii -P-cbou");
    for (const char* section : {"NAME", "SYNOPSIS", "OPTIONS", "EXAMPLES", "EXIT STATUS", "FILES"})
        EXPECT_NE(r.out.find(std::string("\n") + section + "\n"), std::string::npos) << section;
}

TEST(Installation, DebianPackagePassesLintian) {
    std::string build = NODRIX_BUILD_DIR;
    if (!std::filesystem::exists(build + "/CPackConfig.cmake")) GTEST_SKIP() << "no CPack configuration in " << build;
    for (const char* tool : {"cpack", "lintian", "dpkg-deb"})
        if (test::shell(std::string("command -v ") + tool + " >/dev/null").status != 0)
            GTEST_SKIP() << tool << " is not installed (scripts/deps.sh installs it)";
    test::temp_dir out;
    auto r = test::shell("cd " + shell_quoted(build) + " && cpack -G DEB -B " + shell_quoted(out.path) + " 2>&1");
    ASSERT_EQ(r.status, 0) << r.out;
    std::string deb;
    for (const auto& entry : std::filesystem::directory_iterator(out.path))
        if (entry.path().extension() == ".deb") deb = entry.path();
    ASSERT_FALSE(deb.empty()) << r.out;

    // Errors and warnings both fail; informational tags do not.
    r = test::shell("lintian --tag-display-limit 0 " + shell_quoted(deb) + " 2>&1 | grep -E '^(E|W): ' || true");
    EXPECT_EQ(r.out, "");

    // The modules lie where the documentation says, and the program still
    // loads them once stripped.
    r = test::shell("dpkg-deb -c " + shell_quoted(deb));
    EXPECT_NE(r.out.find("./usr/lib/nodrix/modules/http_request.so"), std::string::npos) << r.out;
    r = test::shell("dpkg-deb -f " + shell_quoted(deb) + " Depends Maintainer");
    EXPECT_NE(r.out.find("libpcap0.8"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Maintainer: nodrix developers <"), std::string::npos) << r.out;
    test::temp_dir root;
    ASSERT_EQ(test::shell("dpkg-deb -x " + shell_quoted(deb) + " " + shell_quoted(root.path)).status, 0);
    test::write_file(root.file("a.pcap"), test::pcap_file({{ethernet_frame()}}));
    r = test::shell(shell_quoted(root.file("usr/bin/nodrix")) + " -P " + shell_quoted(root.file("a.pcap")) +
                    " --modules " + shell_quoted(root.file("usr/lib/nodrix/modules")) + " 2>&1");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("- UDP Header -"), std::string::npos) << r.out;
}

}  // namespace
