// How the iptrace and snoop readers end the program: messages, statistics,
// exit statuses.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include "support.h"
#include "trace_files.h"

using namespace trace;
using test::bytes;

namespace {

struct cli_case {
    const char* name;
    const char* option;
    bytes file;
    std::vector<std::string> extra;
    int status;
    std::string out_ends_with;
    std::string err;
};

bool ends_with(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST(TraceFileRun, EndsStatusesAndMessages) {
    const std::string truncated = "Error: End of file reached, but not at the right position, maybe truncated.\n\n";
    bytes ipt = iptrace_record(ethernet_frame());
    bytes snp = snoop_record(ethernet_frame());
    const std::string stats_end = "RSVP\t\t0\t\tMSDP\t\t0\nGSMP\t\t0\n";
    std::vector<cli_case> cases = {
        {"iptrace completed with statistics", "-I", iptrace_file({ipt}), {"--statistic"}, 0, stats_end, ""},
        {"snoop completed", "-S", snoop_file({snp}), {}, 0, "\nRead snoop dump file completed.\n", ""},
        {"iptrace frame missing: no statistics",
         "-I",
         iptrace_file({ipt, prefix(ipt, 40)}),
         {"--statistic"},
         1,
         "\n- Ethernet Header -\n",
         truncated},
        {"iptrace record length below 32",
         "-I",
         iptrace_file({iptrace_record({}, 6, 0, 8)}),
         {},
         1,
         "File type is iptrace version 2.0.\n",
         truncated},
        {"snoop included length beyond the record",
         "-S",
         snoop_file({snoop_record(ethernet_frame(), 0, 200)}),
         {},
         1,
         "Read packet(s) from file: t.\n",
         truncated},
        {"snoop header short",
         "-S",
         prefix(snoop_file({}), 8),
         {},
         1,
         "Read packet(s) from file: t.\n",
         "Error: Error occured while Snoop file header reading.\n\n"},
        {"iptrace version 1.0",
         "-I",
         iptrace_file({}, "iptrace 1.0"),
         {},
         0,
         "File type is iptrace version 1.0. Not supported @ the moment!\n",
         ""},
        {"snoop version 6 with statistics", "-S", snoop_file({snp}, 4, 6), {"--statistic"}, 0, stats_end, ""},
    };
    test::temp_dir dir;
    for (const auto& c : cases) {
        for (bool compressed : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (compressed ? " (gzip)" : ""));
            test::write_file(dir.file("t"), compressed ? gzip(c.file) : c.file);
            std::vector<std::string> args = {c.option, dir.file("t")};
            args.insert(args.end(), c.extra.begin(), c.extra.end());
            test::run_result r = test::run_nodrix(args);
            EXPECT_EQ(c.status, r.status);
            std::string out = r.out;
            // The path in the announcement is the temporary one.
            size_t at = out.find(dir.file("t"));
            if (at != std::string::npos) out.replace(at, dir.file("t").size(), "t");
            EXPECT_TRUE(ends_with(out, c.out_ends_with)) << out;
            EXPECT_EQ(c.err, r.err);
            EXPECT_EQ(std::string::npos, out.find("\nExit.\n"));
            if (c.status == 1) {
                EXPECT_EQ(std::string::npos, out.find("Statistics"));
            }
        }
    }
}

TEST(TraceFileRun, MissingFiles) {
    // The snoop reader reports on the output stream, the iptrace reader on
    // standard error.
    test::run_result ipt = test::run_nodrix({"-I", "/nonexistent/x.ipt"});
    EXPECT_EQ(1, ipt.status);
    EXPECT_EQ("Error: Can't open iptrace file /nonexistent/x.ipt.\n", ipt.err);
    test::run_result snp = test::run_nodrix({"-S", "/nonexistent/x.snoop"});
    EXPECT_EQ(1, snp.status);
    EXPECT_EQ("Read packet(s) from file: /nonexistent/x.snoop.\nError: Can't open snoop file /nonexistent/x.snoop.\n",
              snp.out);
}

TEST(TraceFileRun, SignalEndsThroughTheExitHandler) {
    // The reader waits on a pipe; a signal stops it at the next record and
    // the exit handler ends the run, closing the trace file.
    test::temp_dir dir;
    std::string fifo = dir.file("fifo");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    test::running_nodrix child = test::start_nodrix({"-S", fifo});
    int fd = open(fifo.c_str(), O_WRONLY);  // returns once the reader has opened it
    ASSERT_GE(fd, 0);
    bytes file = snoop_file({snoop_record(ethernet_frame()), snoop_record(ethernet_frame())});
    ASSERT_EQ(static_cast<ssize_t>(file.size()), write(fd, file.data(), file.size()));
    usleep(200000);
    kill(child.pid, SIGTERM);
    usleep(200000);
    close(fd);
    test::run_result r = test::finish_nodrix(child, 10);
    EXPECT_EQ(0, r.status);
    EXPECT_TRUE(ends_with(r.out, "\nExit.\n")) << r.out;
    EXPECT_EQ(std::string::npos, r.out.find("completed")) << r.out;
    EXPECT_EQ("", r.err);
}

}  // namespace
