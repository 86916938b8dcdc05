// What a run may do once it captures: the user it runs as, the pid file
// it keeps, the modules it accepts, and a flood that a stop interrupts.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fstream>
#include <regex>
#include <thread>

#include "support.h"
#include "zelk_net.h"
#include "zelklib/netns.h"

namespace {

using namespace std::chrono_literals;

#define REQUIRE_ROOT() \
    if (!test::running_as_root()) GTEST_SKIP() << "needs root"

std::string text_of(const std::string& path) {
    auto b = test::read_file(path);
    return std::string(b.begin(), b.end());
}

// The lines of /proc/PID/status that tell who a process is.
std::string identity(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    std::string line, out;
    while (std::getline(f, line))
        if (line.rfind("Uid:", 0) == 0 || line.rfind("Gid:", 0) == 0 || line.rfind("Groups:", 0) == 0 ||
            line.rfind("Cap", 0) == 0)
            out += line + "\n";
    return out;
}

const std::string unprivileged =
    "Uid:\t65534\t65534\t65534\t65534\nGid:\t65534\t65534\t65534\t65534\nGroups:\t \n"
    "CapInh:\t0000000000000000\nCapPrm:\t0000000000000000\nCapEff:\t0000000000000000\n"
    "CapBnd:\t0000000000000000\nCapAmb:\t0000000000000000\n";

// Runs argv with standard output and error on files; the child starts in
// the calling thread's network namespace.
pid_t start(const std::vector<std::string>& argv, const std::string& out, const std::string& err) {
    pid_t pid = fork();
    if (pid == 0) {
        int in = open("/dev/null", O_RDONLY);
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(in, 0);
        dup2(o, 1);
        dup2(e, 2);
        std::vector<char*> v;
        for (const auto& a : argv) v.push_back(const_cast<char*>(a.c_str()));
        v.push_back(nullptr);
        execvp(v[0], v.data());
        _exit(127);
    }
    return pid;
}

int wait_status(pid_t pid, int timeout_seconds = 30) {
    int status = 0;
    for (int waited = 0; waitpid(pid, &status, WNOHANG) != pid; waited += 10) {
        if (waited >= timeout_seconds * 1000) kill(pid, SIGKILL);
        std::this_thread::sleep_for(10ms);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool wait_for_file_text(const std::string& path, const std::string& text, int timeout_ms = 10000) {
    for (int waited = 0; waited < timeout_ms; waited += 20) {
        if (text_of(path).find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

// Polls until the process looks as wanted (the switch follows the start line).
std::string identity_when(pid_t pid, const std::string& wanted) {
    std::string seen;
    for (int i = 0; i < 200 && (seen = identity(pid)) != wanted; ++i) std::this_thread::sleep_for(10ms);
    return seen;
}

std::vector<std::string> nodrix(std::vector<std::string> args) {
    args.insert(args.begin(), NODRIX_BINARY);
    return args;
}

// 2: the capture runs as an unprivileged user with no capabilities.
TEST(Privileges, LiveCaptureRunsUnprivileged) {
    REQUIRE_ROOT();
    test::veth_namespace ns;
    ASSERT_TRUE(ns.ok()) << ns.error;
    test::inside_namespace inside(ns.name);
    test::temp_dir dir;
    pid_t pid = start(nodrix({"-d", "nxa", "-p", "-r", dir.file("raw.pcap"), "--user", "nobody"}), dir.file("out"),
                      dir.file("err"));
    ASSERT_TRUE(wait_for_file_text(dir.file("out"), "Receive packet(s) on device: nxa\n"));
    EXPECT_EQ(identity_when(pid, unprivileged), unprivileged);
    kill(pid, SIGTERM);
    EXPECT_EQ(wait_status(pid), 0);
    // The raw log was opened before the switch, for root only.
    struct stat st {};
    ASSERT_EQ(stat(dir.file("raw.pcap").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_uid, 0u);

    // --user root keeps root, and says so.
    pid = start(nodrix({"-d", "nxa", "-p", "--user", "root"}), dir.file("out"), dir.file("err"));
    ASSERT_TRUE(wait_for_file_text(dir.file("out"), "Receive packet(s) on device: nxa\n"));
    std::this_thread::sleep_for(200ms);
    EXPECT_NE(identity(pid).find("Uid:\t0\t0\t0\t0\n"), std::string::npos);
    kill(pid, SIGTERM);
    EXPECT_EQ(wait_status(pid), 0);
    EXPECT_EQ(text_of(dir.file("err")), "Warning: Decoding as root, with every privilege.\n");
}

// 2: CAP_NET_RAW does instead of root; neither gets the root message.
TEST(Privileges, CapNetRawInsteadOfRoot) {
    REQUIRE_ROOT();
    if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "no setpriv";
    test::veth_namespace ns;
    ASSERT_TRUE(ns.ok()) << ns.error;
    test::inside_namespace inside(ns.name);
    test::temp_dir dir;
    std::vector<std::string> as_nobody = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    auto with_caps = as_nobody;
    for (const char* a : {"--inh-caps=+net_raw", "--ambient-caps=+net_raw"}) with_caps.push_back(a);
    for (const char* a : {NODRIX_BINARY, "-d", "nxa", "-p"}) {
        with_caps.push_back(a);
        as_nobody.push_back(a);
    }
    pid_t refused = start(as_nobody, dir.file("out"), dir.file("err"));
    EXPECT_EQ(wait_status(refused), 1);
    EXPECT_EQ(text_of(dir.file("err")), "\nError: Please run this program as root!\n\n");

    pid_t pid = start(with_caps, dir.file("out"), dir.file("err"));
    ASSERT_TRUE(wait_for_file_text(dir.file("out"), "Receive packet(s) on device: nxa\n")) << text_of(dir.file("err"));
    // Once open, the capability goes too. (Without CAP_SETPCAP the bounding
    // set stays; no_new_privs keeps it from ever mattering.)
    std::string wanted = std::regex_replace(unprivileged, std::regex("CapBnd:[^\n]*\n"), "");
    std::string seen;
    for (int i = 0; i < 200 && seen != wanted; ++i) {
        seen = std::regex_replace(identity(pid), std::regex("CapBnd:[^\n]*\n"), "");
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(seen, wanted);
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    EXPECT_NE(std::string(std::istreambuf_iterator<char>(status), {}).find("NoNewPrivs:\t1\n"), std::string::npos);
    kill(pid, SIGINT);
    EXPECT_EQ(wait_status(pid), 0);
}

// 8: the pid file: exclusive, 0644, locked, never through a symbolic link,
// removed by every end, also after the switch of user.
TEST(PidFile, ExclusiveLockedAndRemoved) {
    REQUIRE_ROOT();
    test::pid_file_lock lock;
    test::veth_namespace ns;
    ASSERT_TRUE(ns.ok()) << ns.error;
    test::inside_namespace inside(ns.name);
    test::temp_dir dir;
    const std::string pid_path = "/var/run/nodrix.pid";
    unlink(pid_path.c_str());

    // A link planted where the pid file goes is not followed.
    ASSERT_EQ(symlink(dir.file("target").c_str(), pid_path.c_str()), 0);
    pid_t p = start(nodrix({"-D", "-d", "nxa", "-p"}), dir.file("out"), dir.file("err"));
    EXPECT_EQ(wait_status(p), 1);
    EXPECT_EQ(text_of(dir.file("err")).rfind("Error: Can't open pid file /var/run/nodrix.pid: ", 0), 0u)
        << text_of(dir.file("err"));
    EXPECT_NE(access(dir.file("target").c_str(), F_OK), 0);
    unlink(pid_path.c_str());

    // A start that fails later leaves no pid file.
    p = start(nodrix({"-D", "-P", "/missing.pcap"}), dir.file("out"), dir.file("err"));
    EXPECT_EQ(wait_status(p), 1);
    EXPECT_NE(access(pid_path.c_str(), F_OK), 0);

    // Under umask 000 the file is still 0644; a second daemon is refused.
    std::string command = "umask 000; exec " + std::string(NODRIX_BINARY) + " -D -d nxa -p -l " + dir.file("log");
    p = start({"sh", "-c", command}, dir.file("out"), dir.file("err"));
    ASSERT_EQ(wait_status(p), 0) << text_of(dir.file("err"));
    struct stat st {};
    ASSERT_EQ(lstat(pid_path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    pid_t daemon = std::stoi(text_of(pid_path));
    EXPECT_EQ(text_of(pid_path), std::to_string(daemon) + "\n");
    EXPECT_EQ(identity_when(daemon, unprivileged), unprivileged);

    p = start(nodrix({"-D", "-d", "nxa", "-p"}), dir.file("out"), dir.file("err"));
    EXPECT_EQ(wait_status(p), 1);
    EXPECT_EQ(text_of(dir.file("err")), "Error: nodrix is already running, pid " + std::to_string(daemon) + ".\n");
    EXPECT_EQ(text_of(pid_path), std::to_string(daemon) + "\n");

    kill(daemon, SIGTERM);
    bool removed = false;
    for (int i = 0; i < 500 && !removed; ++i) {
        removed = access(pid_path.c_str(), F_OK) != 0;
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(removed);
    EXPECT_TRUE(wait_for_file_text(dir.file("log"), "\nExit.\n"));
}

// 7: modules root would run must be root's own; a directory may hold
// other files; nothing loads before the command line is accepted.
TEST(Modules, OwnershipDirectoriesAndOrder) {
    REQUIRE_ROOT();
    test::temp_dir dir;
    test::bytes frame = test::hex("020000000002 020000000001 88b5 00000000");
    test::write_file(dir.file("in.pcap"), test::pcap_file({{frame}}));
    test::bytes module = test::read_file(std::string(NODRIX_BUILD_DIR) + "/modules/payload_size.so");
    ASSERT_FALSE(module.empty());
    auto place = [&](const std::string& path, mode_t mode, uid_t owner) {
        test::write_file(path, module);
        chmod(path.c_str(), mode);
        EXPECT_EQ(chown(path.c_str(), owner, 0), 0);
        return path;
    };
    mkdir(dir.file("open").c_str(), 0777);
    chmod(dir.file("open").c_str(), 0777);
    mkdir(dir.file("mixed").c_str(), 0755);
    place(dir.file("mixed/a.so"), 0755, 0);
    std::ofstream(dir.file("mixed/README")) << "not a module\n";
    struct {
        std::string module;
        bool directory;
        int status;
        std::string err;
    } cases[] = {
        {place(dir.file("ok.so"), 0755, 0), false, 0, ""},
        {place(dir.file("theirs.so"), 0755, 65534), false, 1,
         "Error: Refusing module " + dir.file("theirs.so") + ": owned by another user.\n"},
        {place(dir.file("everyone.so"), 0666, 0), false, 1,
         "Error: Refusing module " + dir.file("everyone.so") + ": writable by everyone.\n"},
        {place(dir.file("open/m.so"), 0755, 0), false, 1,
         "Error: Refusing module " + dir.file("open") + ": writable by everyone.\n"},
        {dir.file("open"), true, 1, "Error: Refusing module " + dir.file("open") + ": writable by everyone.\n"},
        {dir.file("mixed"), true, 0, "Warning: Skipping " + dir.file("mixed/README") + ": not a shared object.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.module);
        auto r = test::run_nodrix({c.directory ? "--modules" : "--module", c.module, "-P", dir.file("in.pcap")});
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out.find("Module name") != std::string::npos, c.status == 0) << r.out;
    }
    // A rejected command line loads nothing.
    auto rejected = test::run_nodrix({"--module", dir.file("ok.so"), "-f", "tcp", "-F", "udp"});
    EXPECT_EQ(rejected.status, 1);
    EXPECT_EQ(rejected.out.find("Module name"), std::string::npos);
}

// 11 and 3: a stop during a flood first decodes every frame the kernel
// had already counted: received - dropped = decoded = raw log records.
TEST(Flood, StopDecodesWhatTheKernelCounted) {
    REQUIRE_ROOT();
    test::veth_namespace ns;
    ASSERT_TRUE(ns.ok()) << ns.error;
    test::inside_namespace inside(ns.name);
    test::temp_dir dir;
    test::bytes frame = test::hex("020000000002 020000000001 88b5");
    frame.resize(60, 0x5a);
    struct {
        std::vector<std::string> source;
        int sig;
    } runs[] = {
        {{"-d", "nxa", "-p"}, SIGINT},
        {{"-d", "nxa", "-p"}, SIGHUP},
        {{"--use-zelklib", "-d", "nxa", "-p"}, SIGINT},
        {{"--use-zelklib", "-d", "nxa", "-p"}, SIGTERM},
    };
    for (const auto& r : runs) {
        SCOPED_TRACE(r.source[0] + " " + std::to_string(r.sig));
        auto args = r.source;
        for (const char* a : {"-r", "raw.pcap"}) args.push_back(a);
        args.back() = dir.file("raw.pcap");
        pid_t pid = start(nodrix(args), dir.file("out"), dir.file("err"));
        ASSERT_TRUE(wait_for_file_text(dir.file("out"), "Receive packet(s) on device: nxa\n"));
        std::this_thread::sleep_for(300ms);
        std::atomic<bool> stop{false};
        std::thread flood([&] {
            zelk_link_layer* sender = zelk_open_link_layer("nxb");
            while (!stop) zelk_write_link_layer(sender, "nxb", frame.data(), static_cast<int>(frame.size()), 64);
            zelk_close_link_layer(sender);
            free(sender);
        });
        std::this_thread::sleep_for(1500ms);
        kill(pid, r.sig);
        std::this_thread::sleep_for(500ms);
        stop = true;
        flood.join();
        EXPECT_EQ(wait_status(pid, 60), 0) << text_of(dir.file("err"));
        std::string out = text_of(dir.file("out"));
        std::smatch m;
        ASSERT_TRUE(std::regex_search(out, m, std::regex("\nReceived (\\d+) packets, (\\d+) dropped by kernel.\n")))
            << out.substr(out.size() > 500 ? out.size() - 500 : 0);
        long received = std::stol(m[1]), dropped = std::stol(m[2]);
        long decoded = 0;
        for (size_t at = out.find(" - Received frame "); at != std::string::npos;
             at = out.find(" - Received frame ", at + 1))
            ++decoded;
        auto raw = test::read_file(dir.file("raw.pcap"));
        long records = raw.size() >= 24 ? static_cast<long>((raw.size() - 24) / (16 + frame.size())) : -1;
        EXPECT_GT(received, 1000);
        EXPECT_EQ(received - dropped, decoded) << "received " << received << ", dropped " << dropped;
        EXPECT_EQ(decoded, records);
        EXPECT_EQ(raw.size(), 24 + static_cast<size_t>(records) * (16 + frame.size()));
        RecordProperty("received_" + r.source[0] + std::to_string(r.sig), std::to_string(received));
        RecordProperty("dropped_" + r.source[0] + std::to_string(r.sig), std::to_string(dropped));
        fprintf(stderr, "[flood] %s sig %d: received %ld dropped %ld decoded %ld\n", r.source[0].c_str(), r.sig,
                received, dropped, decoded);
    }
}

}  // namespace
