// How the iptrace and snoop readers end the program.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include "trace_files.h"

using namespace trace;

namespace {

bool ends_with(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST(TraceFileRun, EndsStatusesAndMessages) {
    const std::string truncated = "Error: End of file reached, but not at the right position, maybe truncated.\n\n";
    const std::string statistics_end = "RSVP\t\t0\t\tMSDP\t\t0\nGSMP\t\t0\n";
    bytes ipt = iptrace_record(ethernet_frame());
    test::temp_dir dir;
    std::string path = dir.file("t");
    struct {
        std::string option;
        bytes file;
        int status;
        std::string out_end, err;
    } cases[] = {
        {"-I", gzip(iptrace_file({ipt})), 0, statistics_end, ""},
        // The truncated end skips the statistics.
        {"-I", iptrace_file({ipt, prefix(ipt, 40)}), 1, "\n- Ethernet Header -\n", truncated},
        {"-S", snoop_file({snoop_record(ethernet_frame(), 0, 200)}), 1, path + ".\n", truncated},
        {"-S", prefix(snoop_file({}), 8), 1, path + ".\n", "Error: Error occured while Snoop file header reading.\n\n"},
        // A file nodrix cannot read ends the end sequence with status 1.
        {"-S", snoop_file({}, 4, 1), 1, statistics_end, ""},
        // The snoop reader reports a missing file on the output stream.
        {"-S", {}, 1, "Error: Can't open snoop file /nonexistent.\n", ""},
        {"-I", {}, 1, "Read packet(s) from file: /nonexistent.\n", "Error: Can't open iptrace file /nonexistent.\n"},
    };
    for (const auto& c : cases) {
        bool missing = c.file.empty();
        if (!missing) test::write_file(path, c.file);
        test::run_result r = test::run_nodrix({c.option, missing ? "/nonexistent" : path, "--statistic"});
        EXPECT_EQ(c.status, r.status) << c.out_end;
        EXPECT_TRUE(ends_with(r.out, c.out_end)) << r.out;
        EXPECT_EQ(c.err, r.err);
        EXPECT_EQ(std::string::npos, r.out.find("Exit."));
    }
}

TEST(TraceFileRun, SignalEndsThroughTheExitHandler) {
    // The reader waits on a pipe; a signal stops it before the next record
    // and the exit handler ends the run.
    test::temp_dir dir;
    std::string fifo = dir.file("fifo");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    test::running_nodrix child = test::start_nodrix({"-S", fifo});
    int fd = open(fifo.c_str(), O_WRONLY);  // returns once the reader has opened it
    ASSERT_GE(fd, 0);
    bytes file = snoop_file({snoop_record(ethernet_frame())});
    ASSERT_EQ(static_cast<ssize_t>(file.size()), write(fd, file.data(), file.size()));
    usleep(200000);
    kill(child.pid, SIGTERM);
    usleep(200000);
    close(fd);
    test::run_result r = test::finish_nodrix(child, 10);
    EXPECT_EQ(0, r.status);
    EXPECT_TRUE(ends_with(r.out, "\nExit.\n")) << r.out;
    EXPECT_EQ(std::string::npos, r.out.find("completed"));
}

}  // namespace
