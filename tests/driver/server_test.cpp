// Forwarding frames to a collecting server: against the shipped collector,
// and against a server scripted by the test that checks every byte.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <thread>

#include "../capture/trace_files.h"
#include "module_frames.h"

using test::bytes;

namespace {

// The collector, in the background for one session.
struct running_collector {
    FILE* pipe;
    int port = 0;
    explicit running_collector(const std::string& output) {
        pipe = popen((std::string(NODRIX_BUILD_DIR) + "/collector --port 0 --once " + output).c_str(), "r");
        char line[128] = "";
        if (pipe && fgets(line, sizeof line, pipe)) sscanf(line, "Listening on 127.0.0.1:%d", &port);
    }
    // What it printed after the listening line, once it has ended.
    std::string finish() {
        std::string text;
        char line[256];
        while (fgets(line, sizeof line, pipe)) text += line;
        pclose(pipe);
        return text;
    }
};

TEST(ServerConnection, CollectorReceivesEveryFrameThenTheClose) {
    test::temp_dir dir;
    std::vector<test::pcap_record> records;
    for (size_t size : {60, 61, 64, 590, 1514, 1515, 9000, 42}) {
        bytes frame = trace::ethernet_frame(size);
        for (size_t i = 14; i < size; ++i) frame[i] = static_cast<uint8_t>(i * 7 + size);
        records.push_back({frame});
    }
    records.push_back({frames::tcp(40000, 80, "GET / HTTP/1.1\r\n\r\n")});
    test::write_file(dir.file("in.pcap"), test::pcap_file(records));

    running_collector server(dir.file("out.pcap"));
    ASSERT_GT(server.port, 0);
    std::string port = std::to_string(server.port);
    test::run_result r =
        test::run_nodrix({"-P", dir.file("in.pcap"), "--server-addr", "127.0.0.1", "--server-port", port});
    std::string said = server.finish();
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(0u, r.out.find("Open connection to ZELK-Server(127.0.0.1:" + port + ").\nConnected.\n")) << r.out;
    EXPECT_NE(std::string::npos, said.find("Session 1 closed after 9 frames\n")) << said;
    // The collector's file holds the same frames; only the time stamps differ.
    bytes sent = test::pcap_file(records), received = test::read_file(dir.file("out.pcap"));
    ASSERT_EQ(sent.size(), received.size());
    for (size_t at = 24; at < sent.size();) {
        uint32_t length = sent[at + 8] | sent[at + 9] << 8;
        EXPECT_TRUE(std::equal(sent.begin() + at + 8, sent.begin() + at + 16 + length, received.begin() + at + 8))
            << "frame at " << at;
        at += 16 + length;
    }

    // A file reader forwards no frames but closes the session at its end.
    test::write_file(dir.file("t.snoop"), trace::snoop_file({trace::snoop_record(trace::ethernet_frame())}));
    running_collector second(dir.file("out2.pcap"));
    test::run_nodrix(
        {"-S", dir.file("t.snoop"), "--server-addr", "localhost", "--server-port", std::to_string(second.port)});
    EXPECT_NE(std::string::npos, second.finish().find("Session 1 closed after 0 frames\n"));
}

// A server scripted by the test, on a free loopback port.
struct scripted_server {
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    int port = 0;
    scripted_server() {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t n = sizeof a;
        if (bind(listener, reinterpret_cast<sockaddr*>(&a), n) == 0 && listen(listener, 1) == 0 &&
            getsockname(listener, reinterpret_cast<sockaddr*>(&a), &n) == 0)
            port = ntohs(a.sin_port);
    }
    ~scripted_server() { close(listener); }
    // Accepts the client, reads its open request, sends it each block in
    // turn (a pause between them), and returns all it sent until it hung
    // up, or hangs up itself.
    bytes serve(std::vector<std::string> blocks, bool hang_up = false) {
        int s = accept(listener, nullptr, nullptr);
        bytes all(8);
        recv(s, all.data(), all.size(), MSG_WAITALL);
        for (const auto& b : blocks) {
            if (&b != &blocks.front()) usleep(300000);
            send(s, b.data(), b.size(), 0);
        }
        uint8_t buffer[4096];
        for (ssize_t n; !hang_up && (n = recv(s, buffer, sizeof buffer, 0)) > 0;)
            all.insert(all.end(), buffer, buffer + n);
        close(s);
        return all;
    }
};

TEST(ServerConnection, MessagesByteForByte) {
    test::temp_dir dir;
    bytes frame = trace::ethernet_frame(60);
    test::write_file(dir.file("in.pcap"), test::pcap_file({{frame}, {frame}}));
    scripted_server server;
    bytes received;
    // An unrelated block first: the client waits for a real acknowledgement.
    std::thread script([&] {
        received = server.serve(
            {std::string("\x01\x00\x00\x07\x03\x00\x00\x08", 8), std::string("\x01\x00\x12\x34\x04\x00\x00\x08", 8)});
    });
    test::run_result r = test::run_nodrix(
        {"-P", dir.file("in.pcap"), "--server-addr", "127.0.0.1", "--server-port", std::to_string(server.port)});
    script.join();
    EXPECT_EQ(0, r.status);
    bytes data = test::concat({test::hex("01 00 1234 08 00 0044"), frame});
    EXPECT_EQ(test::concat({test::hex("01 00 0000 03 00 0008"), data, data, test::hex("01 00 1234 03 01 0008")}),
              received);
}

TEST(ServerConnection, ServerGoneAndUnreachable) {
    test::temp_dir dir;
    // More than the socket buffers hold, so that the server's hang-up is
    // met however late it comes.
    test::write_file(dir.file("in.pcap"),
                     test::pcap_file(std::vector<test::pcap_record>(12000, {trace::ethernet_frame(1500)})));
    {
        // The server hangs up after the acknowledgement: a send fails, status 1.
        scripted_server server;
        std::thread script([&] { server.serve({std::string("\x01\x00\x00\x01\x04\x00\x00\x08", 8)}, true); });
        test::run_result r = test::run_nodrix({"-P", dir.file("in.pcap"), "--quiet", "--server-addr", "127.0.0.1",
                                               "--server-port", std::to_string(server.port)});
        script.join();
        EXPECT_EQ(1, r.status);
    }
    std::string free_port = std::to_string(scripted_server().port);
    struct {
        std::vector<std::string> args;
        std::string out, err;
    } cases[] = {
        {{"--server-addr", "127.0.0.1", "--server-port", free_port},
         "Open connection to ZELK-Server(127.0.0.1:" + free_port + ").\n",
         "Error: Can't connect to server.\n"},
        {{"--server-addr", "no-such-host.invalid"},
         "Open connection to ZELK-Server(no-such-host.invalid:2777).\n",
         "Error: Can't resolve server address no-such-host.invalid.\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"-P", dir.file("in.pcap")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        test::run_result r = test::run_nodrix(args);
        EXPECT_EQ(1, r.status);
        EXPECT_EQ(c.out, r.out);
        EXPECT_EQ(c.err, r.err);
    }
}

}  // namespace
