// The files a run writes besides its output, and the output's reader: the
// text log, the daemon's pid file, a pipe whose reader goes away.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support.h"

namespace {

using namespace std::chrono_literals;

#define REQUIRE_ROOT() \
    if (!test::running_as_root()) GTEST_SKIP() << "needs root"

test::bytes plain_frame() { return test::hex("020000000002 020000000001 88b5 00000000"); }

std::string text_of(const std::string& path) {
    auto b = test::read_file(path);
    return std::string(b.begin(), b.end());
}

// Runs argv with standard output and error on files; stdin /dev/null.
pid_t start(const std::vector<std::string>& args, const std::string& out, const std::string& err) {
    pid_t pid = fork();
    if (pid == 0) {
        int in = open("/dev/null", O_RDONLY);
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(in, 0);
        dup2(o, 1);
        dup2(e, 2);
        std::vector<char*> v{const_cast<char*>(NODRIX_BINARY)};
        for (const auto& a : args) v.push_back(const_cast<char*>(a.c_str()));
        v.push_back(nullptr);
        execv(v[0], v.data());
        _exit(127);
    }
    return pid;
}

int wait_status(pid_t pid) {
    int status = 0;
    for (int waited = 0; waitpid(pid, &status, WNOHANG) != pid; waited += 10) {
        if (waited >= 30000) kill(pid, SIGKILL);
        std::this_thread::sleep_for(10ms);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool wait_for_text(const std::string& path, const std::string& text) {
    for (int i = 0; i < 500; ++i) {
        if (text_of(path).find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

TEST(TextLog, CreatedPrivateAndNeverAnotherUsersFileInASharedDirectory) {
    REQUIRE_ROOT();
    test::temp_dir dir;
    test::write_file(dir.file("in.pcap"), test::pcap_file({{plain_frame()}}));
    auto r = test::run_nodrix({"-P", dir.file("in.pcap"), "-l", dir.file("new.log")});
    EXPECT_EQ(r.status, 0) << r.err;
    struct stat st {};
    ASSERT_EQ(stat(dir.file("new.log").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_NE(text_of(dir.file("new.log")).find("Received frame 1("), std::string::npos);

    // A shared directory like /tmp holding a file another user put there.
    const std::string shared = dir.file("shared");
    ASSERT_EQ(mkdir(shared.c_str(), 0777), 0);
    chmod(shared.c_str(), 01777);
    const std::string planted = shared + "/log";
    const std::string theirs = "theirs\n";
    test::write_file(planted, test::bytes(theirs.begin(), theirs.end()));
    ASSERT_EQ(chown(planted.c_str(), 65534, 65534), 0);

    // Not taken: the decode stays on standard output, as for any log that
    // cannot be opened.
    r = test::run_nodrix({"-P", dir.file("in.pcap"), "-l", planted});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Error: Can't open logfile " + planted + ".\n");
    EXPECT_NE(r.out.find("Received frame 1("), std::string::npos);
    EXPECT_EQ(text_of(planted), theirs);

    // Nor truncated as a raw log.
    r = test::run_nodrix({"-P", dir.file("in.pcap"), "-r", planted});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("a file of another user in a sticky world-writable directory"), std::string::npos) << r.err;
    EXPECT_EQ(text_of(planted), theirs);

    // Nor a symbolic link another user planted there, to a file of ours.
    const std::string link = shared + "/link", victim = dir.file("victim");
    test::write_file(victim, test::bytes(theirs.begin(), theirs.end()));
    ASSERT_EQ(symlink(victim.c_str(), link.c_str()), 0);
    ASSERT_EQ(lchown(link.c_str(), 65534, 65534), 0);
    r = test::run_nodrix({"-P", dir.file("in.pcap"), "-r", link});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("a symbolic link of another user in a sticky world-writable directory"), std::string::npos)
        << r.err;
    r = test::run_nodrix({"-P", dir.file("in.pcap"), "-l", link});
    EXPECT_EQ(r.err, "Error: Can't open logfile " + link + ".\n");
    EXPECT_EQ(text_of(victim), theirs);

    // Our own file there is appended to as always.
    const std::string own = shared + "/own.log";
    test::write_file(own, test::bytes{'o', 'k', '\n'});
    r = test::run_nodrix({"-P", dir.file("in.pcap"), "-l", own});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(text_of(own).rfind("ok\nStarting logging on ", 0), 0u);
}

TEST(ClosedPipe, TheReaderLeavingEndsTheRunQuietly) {
    test::temp_dir dir;
    std::vector<test::pcap_record> frames(20000, test::pcap_record{plain_frame()});
    test::write_file(dir.file("big.pcap"), test::pcap_file(frames));
    struct {
        std::vector<std::string> args;
        std::string err;  // beside JSON Lines the start-up line is here
    } rows[] = {
        {{"-P", dir.file("big.pcap")}, ""},
        {{"-P", dir.file("big.pcap"), "-r", dir.file("raw.pcap")}, ""},
        {{"-P", dir.file("big.pcap"), "--json"}, "Read packet(s) from file: " + dir.file("big.pcap") + ".\n"},
        {{"-P", dir.file("big.pcap"), "--statistic", "--print-raw-hex"}, ""},
    };
    for (const auto& row : rows) {
        // "nodrix -P big.pcap | head": the reader takes a little and leaves.
        test::running_nodrix child = test::start_nodrix(row.args);
        char some[512];
        ASSERT_GT(read(child.out_fd, some, sizeof some), 0);
        close(child.out_fd);
        child.out_fd = open("/dev/null", O_RDONLY);
        auto r = test::finish_nodrix(child);
        EXPECT_EQ(r.status, 0) << testing::PrintToString(row.args);
        EXPECT_EQ(r.err, row.err) << testing::PrintToString(row.args);
    }
    // The raw log was closed properly: whole records only.
    EXPECT_GT(test::pcap_records(test::read_file(dir.file("raw.pcap"))), 0);
    // Other failed writes keep status 1: hardening_test.cpp, /dev/full.
}

pid_t parent_of(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(f)), {});
    std::istringstream rest(all.substr(all.rfind(')') + 1));
    char state = 0;
    pid_t parent = 0;
    rest >> state >> parent;
    return parent;
}

bool gone(pid_t pid) {
    for (int i = 0; i < 500; ++i) {
        if (kill(pid, 0) != 0) return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

TEST(PidFileOption, LockOutlivesTheWatcherAndOnlyOurFileIsRemoved) {
    REQUIRE_ROOT();
    test::temp_dir dir;
    const std::string pid_path = dir.file("nodrix.pid");
    // Live on lo, with a filter that lets nothing through.
    const std::vector<std::string> daemon{"-D", "--pid-file", pid_path, "-d", "lo", "-p", "-f", "udp port 9"};
    auto with_log = [&](const std::string& log) {
        auto args = daemon;
        args.insert(args.end(), {"-l", log});
        return args;
    };

    ASSERT_EQ(wait_status(start(with_log(dir.file("a.log")), dir.file("out"), dir.file("err"))), 0)
        << text_of(dir.file("err"));
    pid_t capture = std::stoi(text_of(pid_path));
    EXPECT_EQ(text_of(pid_path), std::to_string(capture) + "\n");
    pid_t watcher = parent_of(capture);
    ASSERT_GT(watcher, 1);

    // The root watcher killed: the capture goes on and still holds the lock.
    kill(watcher, SIGKILL);
    ASSERT_TRUE(gone(watcher));
    EXPECT_EQ(kill(capture, 0), 0);
    EXPECT_EQ(wait_status(start(daemon, dir.file("out"), dir.file("err"))), 1);
    EXPECT_EQ(text_of(dir.file("err")), "Error: nodrix is already running, pid " + std::to_string(capture) + ".\n");
    kill(capture, SIGTERM);
    ASSERT_TRUE(gone(capture));

    // Its stale file is replaced by the next daemon, whose end removes it.
    ASSERT_EQ(wait_status(start(with_log(dir.file("b.log")), dir.file("out"), dir.file("err"))), 0)
        << text_of(dir.file("err"));
    capture = std::stoi(text_of(pid_path));
    kill(capture, SIGTERM);
    ASSERT_TRUE(wait_for_text(dir.file("b.log"), "\nExit.\n"));
    bool removed = false;
    for (int i = 0; i < 500 && !removed; ++i, std::this_thread::sleep_for(10ms))
        removed = access(pid_path.c_str(), F_OK) != 0;
    EXPECT_TRUE(removed);

    // A file that someone put in its place during the run stays.
    ASSERT_EQ(wait_status(start(with_log(dir.file("c.log")), dir.file("out"), dir.file("err"))), 0)
        << text_of(dir.file("err"));
    capture = std::stoi(text_of(pid_path));
    unlink(pid_path.c_str());
    test::write_file(pid_path, test::bytes{'1', '\n'});
    kill(capture, SIGTERM);
    ASSERT_TRUE(wait_for_text(dir.file("c.log"), "\nExit.\n"));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(text_of(pid_path), "1\n");
}

TEST(PidFileOption, ALogThatCannotBeOpenedStopsTheDaemonBeforeItStarts) {
    REQUIRE_ROOT();
    test::temp_dir dir;
    test::write_file(dir.file("in.pcap"), test::pcap_file({{plain_frame()}}));
    const std::string pid_path = dir.file("nodrix.pid");
    int status =
        wait_status(start({"-D", "--pid-file", pid_path, "-l", dir.file("no/dir/log"), "-P", dir.file("in.pcap")},
                          dir.file("out"), dir.file("err")));
    EXPECT_EQ(status, 1);
    EXPECT_EQ(text_of(dir.file("err")), "Error: Can't open logfile(daemon) " + dir.file("no/dir/log") + ".\n");
    EXPECT_EQ(text_of(dir.file("out")), "");
    EXPECT_NE(access(pid_path.c_str(), F_OK), 0);
}

}  // namespace
