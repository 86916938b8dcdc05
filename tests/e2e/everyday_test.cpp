// What a new user meets first: time formats, the interface list, the
// guards against habits from other capture tools, the totals of a file read.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <ctime>
#include <string>
#include <vector>

#include "capture/trace_files.h"
#include "support.h"
#include "zelklib/netns.h"

namespace {

struct terminal_run {
    int status = -1;
    std::string out;  // the terminal's text when stdout is on it
    std::string err;
};

// Runs nodrix with standard input on a terminal (and standard output too
// when asked), in the time zone given.
terminal_run run_at_terminal(const std::vector<std::string>& args, bool stdout_on_terminal, const char* tz = "UTC") {
    terminal_run r;
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return r;
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);  // no "\r\n" for "\n"
    tcsetattr(slave, TCSANOW, &raw);
    int out_pipe[2], err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) return r;
    pid_t pid = fork();
    if (pid == 0) {
        setsid();
        dup2(slave, 0);
        dup2(stdout_on_terminal ? slave : out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        std::vector<char*> argv{const_cast<char*>("nodrix")};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        setenv("TZ", tz, 1);
        execv(NODRIX_BINARY, argv.data());
        _exit(127);
    }
    close(slave);
    close(out_pipe[1]);
    close(err_pipe[1]);
    int fds[3] = {master, out_pipe[0], err_pipe[0]};
    std::string* sinks[3] = {&r.out, &r.out, &r.err};
    time_t deadline = time(nullptr) + 20;
    int open_fds = 3;
    while (open_fds > 0 && time(nullptr) < deadline) {
        pollfd p[3];
        for (int i = 0; i < 3; ++i) p[i] = {fds[i], POLLIN, 0};
        if (poll(p, 3, 1000) <= 0) continue;
        for (int i = 0; i < 3; ++i) {
            if (fds[i] < 0 || !(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buffer[4096];
            ssize_t n = read(fds[i], buffer, sizeof buffer);
            if (n <= 0) {
                // A terminal whose last user left reads EIO, not 0.
                close(fds[i]);
                fds[i] = -1;
                --open_fds;
            } else {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            }
        }
    }
    for (int fd : fds)
        if (fd >= 0) close(fd);
    int status = 0;
    if (time(nullptr) >= deadline) kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

test::bytes plain_frame() { return test::hex("020000000002 020000000001 88b5 0001 0203"); }

// Frames on both sides of a midnight that is also a new year, and two days on.
constexpr uint32_t before_midnight = 1798761599;  // 2026-12-31 23:59:59 UTC

std::string frame_times(const std::string& out) {
    std::string times;
    for (size_t at = out.find(" - Re"); at != std::string::npos; at = out.find(" - Re", at + 1)) {
        size_t start = out.rfind('\n', at) + 1;
        times += out.substr(start, at - start) + "|";
    }
    return times;
}

TEST(TimeFormats, EveryFormatAcrossMidnightAndDays) {
    test::temp_dir dir;
    test::write_file(dir.file("t.pcap"), test::pcap_file({
                                             {plain_frame(), before_midnight, 750000},
                                             {plain_frame(), before_midnight + 1, 250000},
                                             {plain_frame(), before_midnight + 172802, 0},
                                         }));
    // Two hours east of UTC, spelt so that no time-zone database is needed.
    const char* east = "XST-2";
    struct {
        std::vector<std::string> options;
        const char* times;
    } rows[] = {
        {{}, "23:59:59.750000|00:00:00.250000|00:00:01.000000|"},
        {{"--time-format", "absolute"}, "01:59:59.750000|02:00:00.250000|02:00:01.000000|"},
        {{"--time-format", "absolute", "--utc"}, "23:59:59.750000|00:00:00.250000|00:00:01.000000|"},
        {{"--time-format", "date"},
         "2027-01-01 01:59:59.750000|2027-01-01 02:00:00.250000|2027-01-03 02:00:01.000000|"},
        {{"--utc", "--time-format", "date"},
         "2026-12-31 23:59:59.750000|2027-01-01 00:00:00.250000|2027-01-03 00:00:01.000000|"},
        {{"--time-format", "epoch"}, "1798761599.750000|1798761600.250000|1798934401.000000|"},
        {{"--time-format", "relative"}, "0.000000|0.500000|172801.250000|"},
        {{"--time-format", "delta"}, "0.000000|0.500000|172800.750000|"},
    };
    for (const auto& row : rows) {
        std::vector<std::string> args{"-P", dir.file("t.pcap")};
        args.insert(args.end(), row.options.begin(), row.options.end());
        auto r = run_at_terminal(args, false, east);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(frame_times(r.out), row.times) << testing::PrintToString(row.options);
        // Only the time changes: the rest of the line is the usual one.
        EXPECT_NE(r.out.find(" - Received frame 3(18/18 bytes length)...\n\n- Ethernet Header -\n"), std::string::npos);
    }

    // The file readers: whole seconds by default, the chosen format otherwise.
    auto snoop = trace::snoop_file({trace::snoop_record(trace::ethernet_frame(), before_midnight),
                                    trace::snoop_record(trace::ethernet_frame(), before_midnight + 90061)});
    test::write_file(dir.file("t.snoop"), snoop);
    auto r = test::run_nodrix({"-S", dir.file("t.snoop")});
    EXPECT_EQ(frame_times(r.out), "23:59:59|01:01:00|");
    r = test::run_nodrix({"-S", dir.file("t.snoop"), "--time-format", "delta"});
    EXPECT_EQ(frame_times(r.out), "0.000000|90061.000000|");
    test::write_file(dir.file("t.ipt"),
                     trace::iptrace_file({trace::iptrace_record(trace::ethernet_frame(), 6, before_midnight)}));
    r = test::run_nodrix({"-I", dir.file("t.ipt"), "--time-format", "date", "--utc"});
    EXPECT_EQ(frame_times(r.out), "2026-12-31 23:59:59.000000|");

    r = test::run_nodrix({"-P", dir.file("t.pcap"), "--time-format", "iso"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.ends_with("\nError: --time-format takes absolute, date, epoch, relative or delta, each also with -ns.\n")) << r.err;
}

// Nanosecond pcap and pcapng keep their nanoseconds: the "-ns" formats,
// the JSON time and a raw log written from them; the specified frame line
// keeps its microseconds, and a microsecond file shows zeros.
TEST(TimeFormats, NanosecondStampsKept) {
    test::temp_dir dir;
    auto nano = test::pcap_file({{plain_frame(), before_midnight, 750000001}, {plain_frame(), before_midnight + 1, 5}});
    const uint8_t nano_magic[4] = {0x4d, 0x3c, 0xb2, 0xa1};
    std::copy(nano_magic, nano_magic + 4, nano.begin());
    test::write_file(dir.file("n.pcap"), nano);
    test::write_file(dir.file("u.pcap"), test::pcap_file({{plain_frame(), before_midnight, 750000}}));
    // The same stamps in a pcapng file whose interface counts nanoseconds.
    auto block = [](uint32_t type, test::bytes body) {
        while (body.size() % 4) body.push_back(0);
        test::bytes b;
        auto put32 = [&b](uint32_t v) { for (int i = 0; i < 32; i += 8) b.push_back(static_cast<uint8_t>(v >> i)); };
        put32(type);
        put32(static_cast<uint32_t>(body.size() + 12));
        b.insert(b.end(), body.begin(), body.end());
        put32(static_cast<uint32_t>(body.size() + 12));
        return b;
    };
    auto epb = [&](uint64_t ns) {
        test::bytes body = test::hex("00000000");
        for (uint32_t part : {static_cast<uint32_t>(ns >> 32), static_cast<uint32_t>(ns), 18u, 18u})
            for (int i = 0; i < 32; i += 8) body.push_back(static_cast<uint8_t>(part >> i));
        auto frame = plain_frame();
        body.insert(body.end(), frame.begin(), frame.end());
        return block(6, body);
    };
    test::bytes ng = block(0x0a0d0d0a, test::hex("4d3c2b1a 0100 0000 ffffffffffffffff"));
    for (const auto& b : {block(1, test::hex("0100 0000 ffff0000 0900 0100 09000000 0000 0000")),
                          epb(uint64_t{before_midnight} * 1000000000 + 750000001),
                          epb(uint64_t{before_midnight + 1} * 1000000000 + 5)})
        ng.insert(ng.end(), b.begin(), b.end());
    test::write_file(dir.file("n.pcapng"), ng);

    struct {
        const char* file;
        std::vector<std::string> options;
        const char* times;
    } rows[] = {
        {"n.pcap", {}, "23:59:59.750000|00:00:00.000000|"},
        {"n.pcap", {"--time-format", "epoch-ns"}, "1798761599.750000001|1798761600.000000005|"},
        {"n.pcap", {"--time-format", "delta-ns"}, "0.000000000|0.250000004|"},
        {"n.pcap", {"--time-format", "date-ns", "--utc"}, "2026-12-31 23:59:59.750000001|2027-01-01 00:00:00.000000005|"},
        {"n.pcapng", {"--time-format", "relative-ns"}, "0.000000000|0.250000004|"},
        {"n.pcapng", {"--time-format", "absolute-ns", "--utc"}, "23:59:59.750000001|00:00:00.000000005|"},
        {"u.pcap", {"--time-format", "epoch-ns"}, "1798761599.750000000|"},
    };
    for (const auto& row : rows) {
        std::vector<std::string> args{"-P", dir.file(row.file)};
        args.insert(args.end(), row.options.begin(), row.options.end());
        auto r = test::run_nodrix(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(frame_times(r.out), row.times) << row.file << testing::PrintToString(row.options);
    }

    for (const char* file : {"n.pcap", "n.pcapng"}) {
        auto r = test::run_nodrix({"-P", dir.file(file), "--json"});
        EXPECT_NE(r.out.find("\"time\":\"2026-12-31T23:59:59.750000001Z\",\"epoch_ns\":1798761599750000001,"),
                  std::string::npos) << file << r.out;
        EXPECT_NE(r.out.find("\"epoch_ns\":1798761600000000005,"), std::string::npos) << file;
    }
    auto r = test::run_nodrix({"-P", dir.file("u.pcap"), "--json"});
    EXPECT_NE(r.out.find("\"time\":\"2026-12-31T23:59:59.750000Z\",\"epoch_ns\":1798761599750000000,"),
              std::string::npos) << r.out;

    // A raw log keeps a nanosecond file's stamps; after pcapng it is the
    // microsecond file it always was.
    struct {
        const char* file;
        const char* magic;
        uint32_t fraction;
    } logs[] = {{"n.pcap", "4d3cb2a1", 750000001}, {"n.pcapng", "d4c3b2a1", 750000}};
    for (const auto& log : logs) {
        std::string out = dir.file(std::string(log.file) + ".log");
        auto w = test::run_nodrix({"-P", dir.file(log.file), "-r", out, "--quiet"});
        ASSERT_EQ(w.status, 0) << w.err;
        auto bytes = test::read_file(out);
        ASSERT_GE(bytes.size(), 24u + 16u);
        EXPECT_EQ(test::bytes(bytes.begin(), bytes.begin() + 4), test::hex(log.magic)) << log.file;
        uint32_t fraction = bytes[28] | bytes[29] << 8 | bytes[30] << 16 | static_cast<uint32_t>(bytes[31]) << 24;
        EXPECT_EQ(fraction, log.fraction) << log.file;
    }
}

TEST(Habits, RawLogRefusesToOverwriteACaptureFileAtATerminal) {
    test::temp_dir dir;
    auto capture = test::pcap_file({{plain_frame()}});
    std::string path = dir.file("cap.pcap");
    const std::string refusal = "Error: " + path +
                                " is a capture file, and -r (--logfile-raw) would overwrite it with a raw log of "
                                "this run. To read it use -P (--pcap-file); to overwrite it add --force-overwrite.\n";
    test::write_file(dir.file("in.pcap"), test::pcap_file({{plain_frame()}, {plain_frame()}}));

    // The habit: "nodrix -r cap.pcap" typed at a terminal.
    test::write_file(path, capture);
    auto r = run_at_terminal({"-P", dir.file("in.pcap"), "-r", path}, false);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, refusal);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(test::read_file(path), capture) << "the capture was touched";

    // Asked for, it goes ahead; so do scripts, which have no terminal.
    for (bool terminal : {true, false}) {
        test::write_file(path, capture);
        auto run =
            terminal ? run_at_terminal({"-P", dir.file("in.pcap"), "-r", path, "--force-overwrite"}, false) : [&] {
                auto p = test::run_nodrix({"-P", dir.file("in.pcap"), "-r", path});
                return terminal_run{p.status, p.out, p.err};
            }();
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(test::read_file(path).size(), 24u + 2 * (16 + 18)) << "terminal " << terminal;
    }

    // Files that are no capture, or empty, are written as always.
    for (const test::bytes& content : {test::bytes{}, test::bytes{'t', 'e', 'x', 't', '\n'}}) {
        test::write_file(path, content);
        r = run_at_terminal({"-P", dir.file("in.pcap"), "-r", path}, false);
        EXPECT_EQ(r.status, 0) << r.err;
    }
    // The file readers never open the raw log, so nothing is at risk.
    test::write_file(path, capture);
    test::write_file(dir.file("t.snoop"), trace::snoop_file({trace::snoop_record(trace::ethernet_frame())}));
    r = run_at_terminal({"-S", dir.file("t.snoop"), "-r", path}, false);
    EXPECT_EQ(r.status, 0) << r.err;
}

TEST(Habits, LeftoverArgumentsAreNamed) {
    test::temp_dir dir;
    test::write_file(dir.file("in.pcap"), test::pcap_file({{plain_frame()}}));
    const std::string warning_tail = "\": a filter rule goes after -f (-f \"";
    struct {
        std::vector<std::string> args;
        std::string warning;  // empty: none
    } rows[] = {
        {{"-p", "0"}, ""},
        {{"-p", "1"}, ""},
        {{}, ""},
        {{"tcp", "port", "80"}, "Warning: ignored argument(s) \"tcp port 80" + warning_tail + "tcp port 80\").\n"},
        {{"-p", "0", "udp"}, "Warning: ignored argument(s) \"udp" + warning_tail + "udp\").\n"},
        // Without -p a 0 is nothing the program reads either.
        {{"0"}, "Warning: ignored argument(s) \"0" + warning_tail + "0\").\n"},
        {{"--quiet", "tcp"}, "Warning: ignored argument(s) \"tcp" + warning_tail + "tcp\").\n"},
        {{"--really-quiet", "tcp"}, ""},
    };
    for (const auto& row : rows) {
        std::vector<std::string> args{"-P", dir.file("in.pcap")};
        args.insert(args.end(), row.args.begin(), row.args.end());
        auto r = test::run_nodrix(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, row.warning) << testing::PrintToString(row.args);
        // The frame is decoded all the same: nothing filtered it.
        if (row.args.empty() || row.args[0].find("quiet") == std::string::npos) {
            EXPECT_NE(r.out.find("Received frame 1("), std::string::npos);
        }
    }
}

TEST(Habits, FileReadEndsWithItsTotalsAtATerminal) {
    test::temp_dir dir;
    test::write_file(
        dir.file("in.pcap"),
        test::pcap_file({{plain_frame()}, {plain_frame(), 45297, 0, 1514}, {test::bytes(70000, 0x5a)}}, 1, 262144));
    auto r = run_at_terminal({"-P", dir.file("in.pcap")}, true);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out.ends_with("\n3 frames, 70036 bytes read.\n\nRead pcap dump file completed.\n\nExit.\n")) << r.out;

    r = run_at_terminal({"-P", dir.file("in.pcap"), "--statistic", "--quiet"}, true);
    EXPECT_EQ(r.out.find("bytes read."), std::string::npos);
    // Into a pipe or a file the output stays as it always was.
    auto piped = test::run_nodrix({"-P", dir.file("in.pcap")});
    EXPECT_TRUE(piped.out.ends_with("\n\n- Ethernet Header -\n\nRead pcap dump file completed.\n\nExit.\n"));

    test::write_file(dir.file("t.snoop"), trace::snoop_file({trace::snoop_record(trace::ethernet_frame(100))}));
    r = run_at_terminal({"-S", dir.file("t.snoop")}, true);
    EXPECT_TRUE(r.out.ends_with("\n1 frames, 100 bytes read.\n\nRead snoop dump file completed.\n")) << r.out;
}

TEST(Interfaces, ListedWithFlagsAndAddresses) {
    if (!test::running_as_root()) GTEST_SKIP() << "a network namespace needs root";
    test::veth_namespace ns;
    ASSERT_TRUE(ns.ok()) << ns.error;
    ASSERT_TRUE(ns.ip(std::string("address add 192.0.2.1/24 dev ") + test::veth_namespace::capture_end));
    ASSERT_TRUE(ns.ip(std::string("link set ") + test::veth_namespace::peer_end + " down"));
    test::inside_namespace inside(ns.name);
    ASSERT_TRUE(inside.entered);
    auto r = test::run_nodrix({"--list-interfaces"});
    EXPECT_EQ(r.status, 0) << r.err;
    auto line_of = [&](const std::string& name) {
        size_t at = r.out.find("." + name + " ");
        if (at == std::string::npos) return std::string();
        size_t start = r.out.rfind('\n', at) + 1;
        return r.out.substr(start, r.out.find('\n', at) - start);
    };
    // With its peer down the capture end is up but has no carrier.
    std::string capture_line = line_of(test::veth_namespace::capture_end);
    EXPECT_TRUE(capture_line.ends_with(std::string(test::veth_namespace::capture_end) + " [Up, Disconnected]"))
        << r.out;
    EXPECT_NE(r.out.find(capture_line + "\n    192.0.2.1/24\n"), std::string::npos) << r.out;
    EXPECT_TRUE(line_of(test::veth_namespace::peer_end).ends_with(" [Disconnected]")) << r.out;
    // lo was never brought up in the namespace.
    EXPECT_NE(line_of("lo").find("Loopback"), std::string::npos) << r.out;
    EXPECT_NE(line_of("any").find("(Pseudo-device"), std::string::npos) << r.out;
    // Numbered from 1 in the order libpcap gives.
    EXPECT_EQ(r.out.rfind("1.", 0), 0u) << r.out;

    ASSERT_TRUE(ns.ip(std::string("link set ") + test::veth_namespace::peer_end + " up"));
    r = test::run_nodrix({"--list-interfaces"});
    EXPECT_NE(line_of(test::veth_namespace::capture_end).find(" [Up, Running"), std::string::npos) << r.out;
}

}  // namespace
