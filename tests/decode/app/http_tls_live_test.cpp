// HTTP and TLS from real programs on loopback: python's http.server and
// curl, openssl s_server and s_client (TLS 1.2 and 1.3), captured by
// tcpdump; checked against text, JSON, every prefix and tshark.
#include <gtest/gtest.h>

#include <cstdlib>

#include "../../peer.h"
#include "stream_frames.h"
#include "decode/link/ethernet.h"

namespace {

// Runs the shell script with $DIR and $PORT set; tcpdump writes $DIR/c.pcap
// while it runs.
bool capture(const test::temp_dir& dir, uint16_t port, const std::string& traffic) {
    std::string script = "DIR=" + dir.path + "; PORT=" + std::to_string(port) +
                         "; cd $DIR || exit 1\n"
                         "tcpdump -i lo -U -Z root -w $DIR/c.pcap tcp port $PORT >/dev/null 2>$DIR/td.err & TD=$!\n"
                         // It says when it listens; a slow machine may take a while.
                         "for i in $(seq 100); do grep -q \"listening on\" $DIR/td.err && break; sleep 0.1; done\n"
                         "sleep 0.3\n" +
                         traffic +
                         "\nsleep 1; kill $TD; wait $TD\n"
                         "test -s $DIR/c.pcap";
    return system(("bash -c '" + script + "'").c_str()) == 0;
}

// tshark's "decode as" for the port the test ran on.
std::string decode_as(uint16_t port, const char* protocol) {
    return "tcp.port==" + std::to_string(port) + "," + protocol;
}

bool have(const char* program) { return system((std::string("command -v ") + program + " >/dev/null").c_str()) == 0; }

const char* http_traffic =
    "mkdir -p www && printf hello > www/hello.txt\n"
    "python3 -m http.server $PORT --bind 127.0.0.1 --directory www >/dev/null 2>&1 & HS=$!\n"
    "for i in 1 2 3 4 5 6 7 8 9 10; do curl -s -o /dev/null http://127.0.0.1:$PORT/hello.txt?x=1 && break; "
    "sleep 0.3; done\n"
    "kill $HS";

std::string tls_traffic(const char* version) {
    return std::string(
               "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout k.pem -out c.pem "
               "-days 1 -subj /CN=example.org >/dev/null 2>&1\n"
               "openssl s_server -accept 127.0.0.1:$PORT -cert c.pem -key k.pem -naccept 1 -quiet ") +
           version +
           " </dev/null >/dev/null 2>&1 & SS=$!\n"
           "for i in $(seq 100); do ss -ltn | grep -q \"127.0.0.1:$PORT \" && break; sleep 0.1; done\n"
           "(echo hello; sleep 0.5) | openssl s_client -connect 127.0.0.1:$PORT -servername example.org "
           "-alpn http/1.1 -quiet " +
           version + " >/dev/null 2>&1\nsleep 0.5; kill $SS 2>/dev/null";
}

void every_frame_is_safe(const std::string& pcap) {
    for (const std::string& line : test::nodrix_json_lines(pcap)) EXPECT_TRUE(test::valid_json(line)) << line;
    for (const test::bytes& frame : streamf::pcap_frames(pcap)) {
        test::reset({"expand-all", "verbose"});
        test::decode_all_prefixes(decode_ethernet, frame, 14);
        test::reset({"json"});
        for (size_t n = 0; n <= frame.size(); n += 7)
            EXPECT_TRUE(test::valid_json(
                test::decode_record(decode_ethernet, test::bytes(frame.begin(), frame.begin() + n), 14)));
    }
}

TEST(HttpLive, CurlAndHttpServer) {
    if (!test::running_as_root()) GTEST_SKIP() << "capturing on loopback needs root";
    if (!have("curl") || !have("tcpdump")) GTEST_SKIP() << "curl or tcpdump is not installed";
    test::temp_dir dir;
    uint16_t port = test::free_udp_port();
    ASSERT_TRUE(capture(dir, port, http_traffic));
    std::string pcap = dir.file("c.pcap");
    test::run_result r = test::run_nodrix({"-P", pcap});
    EXPECT_EQ(streamf::block(r.out, "- HTTP Request -"),
              "- HTTP Request -\n  Method: GET, URI: /hello.txt?x=1, Version: HTTP/1.1\n  Header Lines: 3\n");
    std::string response = streamf::block(r.out, "- HTTP Response -");
    EXPECT_EQ(response.find("- HTTP Response -\n  Version: HTTP/1.0, Status: 200, Reason: OK\n  Header Lines: "), 0u)
        << response;
    r = test::run_nodrix({"-P", pcap, "--expand-all"});
    std::string request = streamf::block(r.out, "- HTTP Request -");
    EXPECT_NE(request.find("\n  Host: 127.0.0.1:"), std::string::npos) << request;
    EXPECT_NE(request.find("\n  Accept: */*\n"), std::string::npos) << request;
    response = streamf::block(r.out, "- HTTP Response -");
    EXPECT_NE(response.find("\n  Content-Length: 5\n"), std::string::npos) << response;
    r = test::run_nodrix({"-P", pcap, "--summary"});
    EXPECT_NE(r.out.find(" HTTP GET /hello.txt?x=1 ("), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" HTTP 200 OK ("), std::string::npos) << r.out;

    if (test::tshark_available()) {
        // The port is whatever the kernel gave us and may belong to another
        // protocol in tshark's tables, so it is told what runs there. Without
        // reassembly it reports a head in the segment that holds it, as we do.
        auto rows = test::tshark_fields(pcap, {"http.request.method", "http.request.uri", "http.response.code"}, "",
                                        {"-o", "tcp.desegment_tcp_streams:FALSE", "-d", decode_as(port, "http")});
        std::vector<std::string> lines = test::nodrix_json_lines(pcap);
        ASSERT_EQ(rows.size(), lines.size());
        int compared = 0;
        for (size_t i = 0; i < rows.size(); ++i) {
            if (rows[i][0].empty() && rows[i][2].empty()) continue;
            ++compared;
            EXPECT_EQ(rows[i][0], test::json_field(lines[i], "http", "method")) << i;
            EXPECT_EQ(rows[i][1], test::json_field(lines[i], "http", "uri")) << i;
            EXPECT_EQ(rows[i][2], test::json_field(lines[i], "http", "status")) << i;
        }
        EXPECT_EQ(compared, 2);
    }
    every_frame_is_safe(pcap);
}

TEST(TlsLive, OpensslTls12And13) {
    if (!test::running_as_root()) GTEST_SKIP() << "capturing on loopback needs root";
    if (!have("openssl") || !have("tcpdump")) GTEST_SKIP() << "openssl or tcpdump is not installed";
    struct {
        const char* option;
        const char* server_hello;  // the short form of the server's first record
        const char* summary;
        bool key_share;
    } cases[] = {
        {"-tls1_3",
         "- TLS Record -\n  Content Type: 22, Version: 0x0303, Length: 122\n  Handshake Type: 2, Length: 118\n"
         "  Cipher Suite: 0x1302\n  Selected Version: 0x0304\n- TLS Record -\n"
         "  Content Type: 20, Version: 0x0303, Length: 1\n",
         " TLS ServerHello TLS 1.3, ChangeCipherSpec, Application Data (", true},
        {"-tls1_2",
         "- TLS Record -\n  Content Type: 22, Version: 0x0303, Length: 65\n  Handshake Type: 2, Length: 61\n"
         "  Cipher Suite: 0xc02c\n- TLS Record -\n  Content Type: 22, Version: 0x0303, Length: ",
         " TLS ServerHello TLS 1.2, Certificate CN=example.org, ServerKeyExchange, ServerHelloDone (", false},
    };
    for (const auto& c : cases) {
        test::temp_dir dir;
        uint16_t port = test::free_udp_port();
        ASSERT_TRUE(capture(dir, port, tls_traffic(c.option))) << c.option;
        std::string pcap = dir.file("c.pcap");
        test::run_result r = test::run_nodrix({"-P", pcap});
        std::string hello = streamf::block(r.out, "- TLS Record -");
        EXPECT_NE(hello.find("  Handshake Type: 1, Length: "), std::string::npos) << hello;
        EXPECT_NE(hello.find("\n  Server Name: example.org\n"), std::string::npos) << hello;
        size_t at = r.out.rfind("- TLS Record -", r.out.find("Handshake Type: 2"));
        EXPECT_EQ(r.out.substr(at, strlen(c.server_hello)), c.server_hello) << c.option;
        r = test::run_nodrix({"-P", pcap, "--summary"});
        EXPECT_NE(r.out.find(" TLS ClientHello SNI example.org ("), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(c.summary), std::string::npos) << r.out;
        r = test::run_nodrix({"-P", pcap, "--expand-all", "--verbose"});
        EXPECT_NE(r.out.find("\n      ALPN: http/1.1\n"), std::string::npos) << c.option;
        EXPECT_EQ(r.out.find("\n      Key Share: Group 0x001d (x25519), Length: 32\n") != std::string::npos,
                  c.key_share);

        if (test::tshark_available()) {
            // tshark takes the record version of each record; we compare the
            // first (the ClientHello's or ServerHello's record).
            auto rows = test::tshark_fields(
                pcap,
                {"tls.handshake.extensions_server_name", "tls.handshake.ciphersuite", "tls.handshake.version",
                 "tls.handshake.extensions.supported_version", "tls.record.version"},
                "", {"-o", "tcp.desegment_tcp_streams:FALSE", "-d", decode_as(port, "tls")});
            std::vector<std::string> lines = test::nodrix_json_lines(pcap);
            ASSERT_EQ(rows.size(), lines.size());
            auto numbers = [](const std::string& list) {
                std::string out = "[";
                size_t start = 0;
                while (start < list.size()) {
                    size_t comma = list.find(',', start);
                    std::string item =
                        list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
                    if (out.size() > 1) out += ",";
                    out += std::to_string(std::stoul(item, nullptr, 16));
                    if (comma == std::string::npos) break;
                    start = comma + 1;
                }
                return out + "]";
            };
            int hellos = 0;
            for (size_t i = 0; i < rows.size(); ++i) {
                if (rows[i][2].empty()) continue;  // no hello in this frame
                ++hellos;
                EXPECT_EQ(rows[i][0], test::json_field(lines[i], "tls", "server_name")) << i;
                std::string suites = test::json_field(lines[i], "tls", "cipher_suites");
                if (suites.empty()) suites = "[" + test::json_field(lines[i], "tls", "cipher_suite") + "]";
                EXPECT_EQ(numbers(rows[i][1]), suites) << i;
                EXPECT_EQ(std::stoul(rows[i][2], nullptr, 16),
                          std::stoul(test::json_field(lines[i], "tls", "hello_version")))
                    << i;
                std::string versions = test::json_field(lines[i], "tls", "supported_versions");
                if (versions.empty() && !test::json_field(lines[i], "tls", "selected_version").empty())
                    versions = "[" + test::json_field(lines[i], "tls", "selected_version") + "]";
                if (!rows[i][3].empty()) {
                    EXPECT_EQ(numbers(rows[i][3]), versions) << i;
                }
                EXPECT_EQ(std::stoul(rows[i][4].substr(0, rows[i][4].find(',')), nullptr, 16),
                          std::stoul(test::json_field(lines[i], "tls", "version")))
                    << i;
            }
            EXPECT_EQ(hellos, 2) << c.option;
        }
        every_frame_is_safe(pcap);
    }
}

}  // namespace
