// Loadable modules, end to end: the shipped examples and small modules
// compiled by the test.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "module_frames.h"
#include "support.h"

using test::bytes;

namespace {

const std::string module_dir = std::string(NODRIX_BUILD_DIR) + "/modules";
const std::string http_module = module_dir + "/http_request.so";
const std::string size_module = module_dir + "/payload_size.so";

const std::string http_description =
    "Module name       : HTTP request line\nModule version    : 1.0\n"
    "Module filter     : tcp port 80 or tcp port 8080\n\n";
const std::string get_request = "- HTTP Request -\n  40000 -> 80: GET /index.html HTTP/1.1\n";
const std::string post_request = "- HTTP Request -\n  40002 -> 8080: POST /form HTTP/1.0\n";

// TCP to port 80, UDP to port 80, UDP to port 53, an HTTP response from
// 8080 and a request to 8080.
bytes web_capture() {
    return test::pcap_file({
        {frames::tcp(40000, 80, "GET /index.html HTTP/1.1\r\nHost: example\r\n\r\n")},
        {frames::udp(40000, 80, "GET /udp HTTP/1.1\r\n")},
        {frames::udp(40001, 53, "\x12\x34 query")},
        {frames::tcp(8080, 40000, "HTTP/1.1 200 OK\r\n\r\n")},
        {frames::tcp(40002, 8080, "POST /form HTTP/1.0\r\nContent-Length: 0\r\n\r\n")},
    });
}

struct ModuleRun : ::testing::Test {
    test::temp_dir dir;
    std::string capture_file = dir.file("web.pcap");
    void SetUp() override { test::write_file(capture_file, web_capture()); }

    test::run_result run(std::vector<std::string> args) {
        args.insert(args.begin(), {"-P", capture_file});
        return test::run_nodrix(args);
    }

    // Compiles a module from C source; false when no C compiler is at hand.
    bool compile(const std::string& name, const std::string& source) {
        std::string c = dir.file(name + ".c");
        std::ofstream(c) << source;
        std::string command = "cc -shared -fPIC -I" + std::string(NODRIX_SOURCE_DIR) + "/include -o " +
                              dir.file(name + ".so") + " " + c + " 2>/dev/null";
        return system(command.c_str()) == 0;
    }
};

TEST_F(ModuleRun, ExampleModuleWithItsFilterRule) {
    test::run_result r = run({"--module", http_module});
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_EQ(0u, r.out.find(http_description + "Filter: tcp port 80 or tcp port 8080\n")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("Filter rule: tcp port 80 or tcp port 8080\n"));
    // The filter leaves the three TCP frames; the response is no request.
    EXPECT_EQ(3u, frames::count(r.out, "Received frame"));
    EXPECT_EQ(1u, frames::count(r.out, get_request));
    EXPECT_EQ(1u, frames::count(r.out, post_request));
    EXPECT_EQ(2u, frames::count(r.out, "- HTTP Request -"));
    EXPECT_EQ("", r.err);
}

TEST_F(ModuleRun, FilterRuleChoices) {
    struct {
        std::vector<std::string> args;
        std::string present, absent;
        unsigned frames;
    } cases[] = {
        // The user's rule wins and no module rule is announced.
        {{"--module", http_module, "-f", "udp"}, "Filter rule: udp\n", "Filter: ", 2},
        {{"--module", http_module, "-F", "udp port 53"}, "Filter rule: udp port 53\n", "Filter: ", 1},
        {{"--module", http_module, "--module-ignore"},
         "Warning: Ignoring modules' builtin BPF filter!\n\n",
         "Filter",
         5},
        // Rules of directory modules are not used.
        {{"--modules", module_dir}, "Read packet(s)", "Filter", 5},
    };
    for (const auto& c : cases) {
        test::run_result r = run(c.args);
        SCOPED_TRACE(c.args.back());
        EXPECT_EQ(0, r.status);
        EXPECT_NE(std::string::npos, r.out.find(c.present));
        EXPECT_EQ(std::string::npos, r.out.find(c.absent));
        EXPECT_EQ(c.frames, frames::count(r.out, "Received frame"));
    }
}

TEST_F(ModuleRun, UdpOnTheModulesPortsDoesNotReachATcpModuleAndIsNotDumped) {
    test::run_result r = run({"--module", http_module, "--module-ignore", "--print-udp-hex", "--print-tcp-hex"});
    ASSERT_EQ(0, r.status);
    EXPECT_EQ(2u, frames::count(r.out, "- HTTP Request -"));
    EXPECT_EQ(std::string::npos, r.out.find("/udp"));
    // TCP payloads are dumped as well as offered; UDP ones only offered.
    size_t udp_frame = r.out.find("Received frame 2");
    size_t next_frame = r.out.find("Received frame 4");
    EXPECT_EQ(std::string::npos, r.out.substr(udp_frame, next_frame - udp_frame).find("0x0001:"));
    EXPECT_NE(std::string::npos, r.out.substr(next_frame).find("0x0001:"));
}

TEST_F(ModuleRun, DirectoryOfModulesOnlyTheLastLoadedIsCalled) {
    std::string modules = dir.file("modules");
    ASSERT_EQ(0, mkdir(modules.c_str(), 0700));
    ASSERT_EQ(0, symlink(http_module.c_str(), (modules + "/http_request.so").c_str()));
    ASSERT_EQ(0, symlink(size_module.c_str(), (modules + "/payload_size.so").c_str()));
    ASSERT_EQ(0, symlink(size_module.c_str(), (modules + "/.hidden.so").c_str()));
    test::run_result r = run({"--modules", modules, "--verbose"});
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_EQ(2u, frames::count(r.out, "Module name"));
    EXPECT_NE(std::string::npos, r.out.find("Module description: Prints the request line of HTTP requests"));
    bool size_last = r.out.find("Module name       : Payload size") > r.out.find("Module name       : HTTP");
    // Both modules want TCP port 80; the UDP payloads reach the size module only.
    if (size_last) {
        EXPECT_EQ(0u, frames::count(r.out, "- HTTP Request -"));
        EXPECT_EQ(5u, frames::count(r.out, "- Payload Size -"));
        EXPECT_NE(std::string::npos, r.out.find("- Payload Size -\n  TCP 40000 -> 80: 43 bytes\n"));
    } else {
        EXPECT_EQ(2u, frames::count(r.out, "- HTTP Request -"));
        EXPECT_EQ(2u, frames::count(r.out, "- Payload Size -"));
    }
    EXPECT_NE(std::string::npos, r.out.find("- Payload Size -\n  UDP 40001 -> 53: 8 bytes\n"));

    // --module wins over --modules.
    test::run_result single = run({"--modules", modules, "--module", http_module});
    EXPECT_EQ(1u, frames::count(single.out, "Module name"));
}

TEST_F(ModuleRun, LoaderErrors) {
    test::run_result not_directory = run({"--modules", "/etc/passwd"});
    EXPECT_EQ(0, not_directory.status);
    EXPECT_EQ("Error: Your given argument to --modules isn't a directory! No modules were loaded!\n\n",
              not_directory.err);
    EXPECT_EQ(5u, frames::count(not_directory.out, "Received frame"));

    std::string text_dir = dir.file("text");
    ASSERT_EQ(0, mkdir(text_dir.c_str(), 0700));
    std::ofstream(text_dir + "/notes.txt") << "not a module\n";
    test::run_result text = run({"--modules", text_dir});
    EXPECT_EQ(1, text.status);
    EXPECT_NE(std::string::npos, text.err.find("notes.txt")) << text.err;
    EXPECT_EQ(0u, frames::count(text.out, "Received frame"));

    test::run_result missing = run({"--module", dir.file("absent.so")});
    EXPECT_EQ(1, missing.status);
    EXPECT_NE(std::string::npos, missing.err.find("absent.so")) << missing.err;
}

TEST_F(ModuleRun, CompiledModulesMissingSymbolAndAbsentTexts) {
    if (!compile("no_handler", "int module_info(void* d) { (void)d; return 0; }\n") ||
        !compile("bare", R"(#include <stdio.h>
#include "nodrix/module.h"
int module_info(struct module_description* d) { d->network = 2; d->protocol_a = 17; d->port_a = 53; return 0; }
int module_init(const uint8_t* p, int32_t n, int32_t proto, int32_t s, int32_t d) {
    printf("bare %d %d %d %d [%s]\n", n, proto, s, d, (const char*)p + 2);
    return 0;
}
)"))
        GTEST_SKIP() << "no C compiler";

    test::run_result missing = run({"--module", dir.file("no_handler.so")});
    EXPECT_EQ(1, missing.status);
    EXPECT_NE(std::string::npos, missing.err.find("module_init")) << missing.err;

    // Absent texts read as empty, and an absent filter rule is no rule.
    test::run_result bare = run({"--module", dir.file("bare.so"), "-v"});
    ASSERT_EQ(0, bare.status) << bare.err;
    EXPECT_EQ(0u, bare.out.find("Module name       : \nModule version    : \nModule filter     : \n"
                                "Module description: \n\nRead packet(s)"))
        << bare.out;
    EXPECT_EQ(5u, frames::count(bare.out, "Received frame"));
    // The payload arrives as a NUL-closed copy with the host-order ports.
    EXPECT_NE(std::string::npos, bare.out.find("bare 2 17 40001 53 [ query]\n")) << bare.out;
}

}  // namespace
