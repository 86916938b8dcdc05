// Loadable modules end to end: the shipped examples and small modules the
// test compiles.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "module_frames.h"

namespace {

const std::string module_dir = std::string(NODRIX_BUILD_DIR) + "/modules";
const std::string http_module = module_dir + "/http_request.so";
const std::string size_module = module_dir + "/payload_size.so";

struct ModuleRun : ::testing::Test {
    test::temp_dir dir;
    void SetUp() override {
        // TCP to 80, UDP to 80, UDP to 53, an HTTP response from 8080, a request to 8080.
        test::write_file(dir.file("web.pcap"),
                         test::pcap_file({
                             {frames::tcp(40000, 80, "GET /index.html HTTP/1.1\r\nHost: example\r\n\r\n")},
                             {frames::udp(40000, 80, "GET /udp HTTP/1.1\r\n")},
                             {frames::udp(40001, 53, "\x12\x34 query")},
                             {frames::tcp(8080, 40000, "HTTP/1.1 200 OK\r\n\r\n")},
                             {frames::tcp(40002, 8080, "POST /form HTTP/1.0\r\n\r\n")},
                         }));
    }
    test::run_result run(std::vector<std::string> args) {
        args.insert(args.begin(), {"-P", dir.file("web.pcap")});
        return test::run_nodrix(args);
    }
};

TEST_F(ModuleRun, ExampleModuleAndItsFilterRule) {
    test::run_result r = run({"--module", http_module});
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_EQ(0u, r.out.find("Module name       : HTTP request line\nModule version    : 1.0\n"
                             "Module filter     : tcp port 80 or tcp port 8080\n\n"
                             "Filter: tcp port 80 or tcp port 8080\n"))
        << r.out;
    EXPECT_NE(std::string::npos, r.out.find("Filter rule: tcp port 80 or tcp port 8080\n"));
    EXPECT_EQ(3u, frames::count(r.out, "Received frame"));
    EXPECT_NE(std::string::npos, r.out.find("- HTTP Request -\n  40000 -> 80: GET /index.html HTTP/1.1\n"));
    EXPECT_NE(std::string::npos, r.out.find("- HTTP Request -\n  40002 -> 8080: POST /form HTTP/1.0\n"));
    EXPECT_EQ(2u, frames::count(r.out, "- HTTP Request -\n  400"));

    struct {
        std::vector<std::string> args;
        std::string present, absent;
        unsigned frames;
    } cases[] = {
        {{"-f", "udp"}, "Filter rule: udp\n", "Filter: ", 2},
        {{"-F", "udp port 53"}, "Filter rule: udp port 53\n", "Filter: ", 1},
        {{"--module-ignore"}, "Warning: Ignoring modules' builtin BPF filter!\n\n", "Filter", 5},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--module", http_module};
        args.insert(args.end(), c.args.begin(), c.args.end());
        test::run_result f = run(args);
        EXPECT_NE(std::string::npos, f.out.find(c.present)) << c.args[0];
        EXPECT_EQ(std::string::npos, f.out.find(c.absent)) << c.args[0];
        EXPECT_EQ(c.frames, frames::count(f.out, "Received frame")) << c.args[0];
    }
}

TEST_F(ModuleRun, UdpOnTheModulesPortsIsNeitherOfferedToATcpModuleNorDumped) {
    test::run_result r = run({"--module", http_module, "--module-ignore", "--print-udp-hex", "--print-tcp-hex"});
    EXPECT_EQ(std::string::npos, r.out.find("/udp"));
    size_t udp_frames = r.out.find("Received frame 2"), tcp_frames = r.out.find("Received frame 4");
    EXPECT_EQ(std::string::npos, r.out.substr(udp_frames, tcp_frames - udp_frames).find("0x0001:"));
    EXPECT_NE(std::string::npos, r.out.substr(tcp_frames).find("0x0001:"));
}

TEST_F(ModuleRun, DirectoryOfModulesOnlyTheLastLoadedIsCalled) {
    std::string modules = dir.file("modules");
    ASSERT_EQ(0, mkdir(modules.c_str(), 0700));
    ASSERT_EQ(0, symlink(http_module.c_str(), (modules + "/http_request.so").c_str()));
    ASSERT_EQ(0, symlink(size_module.c_str(), (modules + "/payload_size.so").c_str()));
    ASSERT_EQ(0, symlink("/etc/passwd", (modules + "/.hidden").c_str()));
    test::run_result r = run({"--modules", modules, "--verbose"});
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_EQ(2u, frames::count(r.out, "Module name"));
    EXPECT_NE(std::string::npos, r.out.find("Module description: Prints the request line of HTTP requests"));
    // Both want TCP on 80 and 8080; only the size module wants UDP.
    if (r.out.find("Module name       : Payload size") > r.out.find("Module name       : HTTP")) {
        EXPECT_EQ(0u, frames::count(r.out, "- HTTP Request -\n  400"));
        EXPECT_EQ(5u, frames::count(r.out, "- Payload Size -"));
        EXPECT_NE(std::string::npos, r.out.find("- Payload Size -\n  TCP 40000 -> 80: 43 bytes\n"));
    } else {
        EXPECT_EQ(2u, frames::count(r.out, "- HTTP Request -\n  400"));
        EXPECT_EQ(2u, frames::count(r.out, "- Payload Size -"));
    }
    EXPECT_NE(std::string::npos, r.out.find("- Payload Size -\n  UDP 40001 -> 53: 8 bytes\n"));
    EXPECT_EQ(1u, frames::count(run({"--modules", modules, "--module", http_module}).out, "Module name"));
}

TEST_F(ModuleRun, LoaderErrorsAndAbsentTexts) {
    test::run_result not_directory = run({"--modules", "/etc/passwd"});
    EXPECT_EQ(0, not_directory.status);
    EXPECT_EQ("Error: Your given argument to --modules isn't a directory! No modules were loaded!\n\n",
              not_directory.err);
    EXPECT_EQ(5u, frames::count(not_directory.out, "Received frame"));

    std::string text_dir = dir.file("text");
    ASSERT_EQ(0, mkdir(text_dir.c_str(), 0700));
    std::ofstream(text_dir + "/notes.txt") << "not a module\n";
    // What is no module is skipped with a warning; the run goes on.
    test::run_result text = run({"--modules", text_dir});
    EXPECT_EQ(0, text.status);
    EXPECT_EQ("Warning: Skipping " + text_dir + "/notes.txt: not a shared object.\n", text.err);

    // Modules compiled here, when a C compiler is at hand.
    auto compile = [&](const std::string& name, const std::string& source) {
        std::ofstream(dir.file(name + ".c")) << source;
        std::string cc = "cc -shared -fPIC -I" + std::string(NODRIX_SOURCE_DIR) + "/include -o " +
                         dir.file(name + ".so") + " " + dir.file(name + ".c") + " 2>/dev/null";
        return system(cc.c_str()) == 0;
    };
    if (!compile("no_handler", "int module_info(void* d) { (void)d; return 0; }\n") ||
        !compile("bare", R"(#include <stdio.h>
#include "nodrix/module.h"
int module_info(struct module_description* d) { d->network = 2; d->protocol_b = 17; d->port_d = 53; return 0; }
int module_init(const uint8_t* p, int32_t n, int32_t proto, int32_t s, int32_t d) {
    printf("bare %d %d %d %d [%s]\n", n, proto, s, d, (const char*)p + 2);
    return 0;
})"))
        GTEST_SKIP() << "no C compiler";
    test::run_result missing = run({"--module", dir.file("no_handler.so")});
    EXPECT_EQ(1, missing.status);
    EXPECT_NE(std::string::npos, missing.err.find("module_init")) << missing.err;

    // Absent texts read as empty; an absent filter rule is no rule. The
    // payload arrives NUL-closed, with the ports in host order.
    test::run_result bare = run({"--module", dir.file("bare.so"), "-v"});
    ASSERT_EQ(0, bare.status) << bare.err;
    EXPECT_EQ(0u, bare.out.find("Module name       : \nModule version    : \nModule filter     : \n"
                                "Module description: \n\nRead packet(s)"))
        << bare.out;
    EXPECT_NE(std::string::npos, bare.out.find("bare 2 17 40001 53 [ query]\n")) << bare.out;
}

}  // namespace
