#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include "support.h"

namespace {

using test::run_nodrix;

TEST(CommandLine, HelpAndVersion) {
    auto help = run_nodrix({"-h", "-V"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, "");
    EXPECT_EQ(help.err.rfind("\nNODRIX v0.11\n========================================\nUsage: nodrix [Options]\n", 0),
              0u);
    EXPECT_NE(help.err.find("       --server-port <port>\tConnect to <port>, default 2777\n"), std::string::npos);
    EXPECT_TRUE(help.err.ends_with(" -V    --version\t\tDisplay the version\n"));

    auto version = run_nodrix({"--version", "-h"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.err.find("Usage:"), std::string::npos);
    EXPECT_EQ(version.err.rfind("NODRIX version 0.11", 0), 0u);
    // The version line names the libpcap actually linked.
    std::string lib = pcap_lib_version();
    lib = lib.substr(lib.find("version ") + 8);
    EXPECT_NE(version.err.find("\nCompiled with zelklib version 0.06, libpcap version " + lib + ".\n"),
              std::string::npos)
        << version.err;

    // Parsing stops at -h: the unknown option behind it is never examined.
    EXPECT_EQ(run_nodrix({"-h", "--bogus"}).status, 0);
}

TEST(CommandLine, EveryOptionRefusesADuplicate) {
    struct {
        std::vector<std::string> args;
        const char* message;
    } rows[] = {
        {{"-d", "a", "--device", "b"}, "`--device' (`-d')"},
        {{"-P", "a", "-P", "b"}, "`--pcap-file' (`-P')"},
        {{"-I", "a", "-I", "b"}, "`--iptrace-file' (`-I')"},
        {{"-S", "a", "-S", "b"}, "`--snoop-file' (`-S')"},
        {{"-f", "a", "-f", "b"}, "`--filter' (`-f')"},
        {{"-F", "a", "-F", "b"}, "`--filter-nopt' (`-F')"},
        {{"-p", "--promisc"}, "`--promisc' (`-p')"},
        {{"-s", "1", "-s", "2"}, "`--snaplen' (`-s')"},
        {{"--beep-on", "--beep-on"}, "`--beep-on'"},
        {{"--max-packets", "1", "--max-packets", "2"}, "`--max-packets'"},
        {{"-c", "-c"}, "`--count' (`-c')"},
        {{"--statistic", "--statistic"}, "`--statistic'"},
        {{"-v", "-v"}, "`--verbose' (`-v')"},
        {{"--expand-ethernet", "--expand-ethernet"}, "`--expand-ethernet'"},
        {{"--expand-llc", "--expand-llc"}, "`--expand-llc'"},
        {{"--expand-token", "--expand-token"}, "`--expand-token'"},
        {{"--expand-fddi", "--expand-fddi"}, "`--expand-fddi'"},
        {{"--expand-arp", "--expand-arp"}, "`--expand-arp'"},
        {{"--expand-pppoe", "--expand-pppoe"}, "`--expand-pppoe'"},
        {{"--expand-all", "--expand-all"}, "`--expand-all'"},
        {{"-D", "--daemon"}, "`--daemon' (`-D')"},
        {{"-l", "a", "-l", "b"}, "`--logfile' (`-l')"},
        {{"-r", "a", "-r", "b"}, "`--logfile-raw' (`-r')"},
        {{"--calc-checksums", "--calc-checksums"}, "`--calc-checksums'"},
        {{"-R", "-R"}, "`--print-raw-hex' (`-R')"},
        {{"--print-ip-hex", "--print-ip-hex"}, "`--print-ip-hex'"},
        {{"--print-tcp-hex", "--print-tcp-hex"}, "`--print-tcp-hex'"},
        {{"--print-udp-hex", "--print-udp-hex"}, "`--print-udp-hex'"},
        {{"--print-pppoe-hex", "--print-pppoe-hex"}, "`--print-pppoe-hex'"},
        {{"--print-tcp-text", "--print-tcp-text"}, "`--print-tcp-text'"},
        {{"--print-udp-text", "--print-udp-text"}, "`--print-udp-text'"},
        {{"--print-tcp-stream", "--print-tcp-stream"}, "`--print-tcp-stream'"},
        {{"--module", "a", "--module", "b"}, "`--module'"},
        {{"--modules", "a", "--modules", "b"}, "`--modules'"},
        {{"--module-ignore", "--module-ignore"}, "`--module-ignore'"},
        {{"--server-addr", "a", "--server-addr", "b"}, "`--server-addr'"},
        {{"--server-port", "1", "--server-port", "2"}, "`--server-port'"},
        {{"--quiet", "--quiet"}, "`--quiet'"},
        {{"--really-quiet", "--really-quiet"}, "`--really-quiet'"},
        {{"--use-zelklib", "--use-zelklib"}, "`--use-zelklib'"},
        {{"--bt", "1", "--bt", "2"}, "`--bt'"},
        {{"--tcl", "a", "--tcl", "b"}, "`--tcl'"},
        {{"--tcl-cbf", "a", "--tcl-cbf", "b"}, "`--tcl-cbf'"},
        {{"--list-interfaces", "--list-interfaces"}, "`--list-interfaces'"},
        {{"--force-overwrite", "--force-overwrite"}, "`--force-overwrite'"},
        {{"--time-format", "date", "--time-format", "epoch"}, "`--time-format'"},
        {{"--utc", "--utc"}, "`--utc'"},
        {{"--user", "a", "--user", "b"}, "`--user'"},
        {{"--server-timeout", "1", "--server-timeout", "2"}, "`--server-timeout'"},
        {{"--tcp-stream-limit", "1", "--tcp-stream-limit", "2"}, "`--tcp-stream-limit'"},
        {{"-h", "--help"}, nullptr},  // parsing stops at the first -h
        {{"-V", "--version"}, nullptr},
    };
    for (const auto& row : rows) {
        auto r = run_nodrix(row.args);
        if (!row.message) {
            EXPECT_EQ(r.status, 0) << row.args[0];
            continue;
        }
        EXPECT_EQ(r.status, 1) << row.message;
        EXPECT_EQ(r.err, std::string("nodrix: ") + row.message + " option given more than once\n");
        EXPECT_EQ(r.out, "");
    }
}

TEST(CommandLine, RejectedCombinationsInOrder) {
    struct {
        std::vector<std::string> args;
        const char* error;
    } rows[] = {
        {{"-f", "tcp", "-F", "udp", "-d", "x", "-P", "y"}, "Use only optimized or not optimized filter rules."},
        {{"-d", "eth0", "-P", "x.pcap", "--use-zelklib"}, "Don't use -d and -P | -I together."},
        {{"-d", "eth0", "-S", "x.snoop"}, "Don't use -d and -P | -I together."},
        {{"--use-zelklib", "-f", "tcp"}, "Currently not supported by ZELKLib."},
        {{"--use-zelklib"}, "Please enter a device to use."},
    };
    for (const auto& row : rows) {
        auto r = run_nodrix(row.args);
        EXPECT_EQ(r.status, 1) << row.error;
        EXPECT_TRUE(r.err.ends_with(std::string(" -V    --version\t\tDisplay the version\n\nError: ") + row.error + "\n"))
            << r.err;
    }
}

TEST(CommandLine, UnknownOptionsAndMissingArguments) {
    for (auto args : {std::vector<std::string>{"--bogus"}, {"-d"}, {"-x"}}) {
        auto r = run_nodrix(args);
        EXPECT_EQ(r.status, 1) << args[0];
        EXPECT_NE(r.err, "");
    }
}

TEST(CommandLine, SnapLengthClampAndIgnoredPositionals) {
    test::temp_dir dir;
    test::write_file(dir.file("a.pcap"), test::pcap_file({{test::hex("ffffffffffff0200000000011234")}}));
    auto clamped = run_nodrix({"-s", "70000", "-P", dir.file("a.pcap")});
    EXPECT_EQ(clamped.status, 0);
    EXPECT_EQ(clamped.out.rfind("Error: Snaplen(70000) is to big, changed it to max(65535).\n", 0), 0u);
    auto exact = run_nodrix({"-s", "65535", "-P", dir.file("a.pcap")});
    EXPECT_EQ(exact.out.find("Snaplen"), std::string::npos);
    // -p takes no argument: "0" is a positional argument, accepted and ignored.
    auto promisc = run_nodrix({"-p", "0", "-P", dir.file("a.pcap"), "--tcl", "s", "--tcl-cbf", "f"});
    EXPECT_EQ(promisc.status, 0);
    EXPECT_NE(promisc.out.find("Received frame 1(14/14 bytes length)"), std::string::npos);
}

}  // namespace
