// Forwarding frames to a collecting server: against the shipped collector
// and against a scripted server that checks every byte of the protocol.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <thread>

#include "../capture/trace_files.h"
#include "capture/trace_file.h"
#include "module_frames.h"
#include "support.h"

using test::bytes;

namespace {

const std::string collector = std::string(NODRIX_BUILD_DIR) + "/collector";

// The frames of a classic pcap file, in order.
std::vector<bytes> pcap_frames(const bytes& file) {
    std::vector<bytes> frames;
    for (size_t at = 24; at + 16 <= file.size();) {
        uint32_t length = file[at + 8] | file[at + 9] << 8 | file[at + 10] << 16 | uint32_t{file[at + 11]} << 24;
        frames.emplace_back(file.begin() + static_cast<long>(at + 16),
                            file.begin() + static_cast<long>(at + 16 + length));
        at += 16 + length;
    }
    return frames;
}

// The collector runs in the background for one session.
struct running_collector {
    FILE* pipe = nullptr;
    int port = 0;
    explicit running_collector(const std::string& output) {
        pipe = popen((collector + " --port 0 --once " + output).c_str(), "r");
        char line[128] = "";
        if (pipe && fgets(line, sizeof line, pipe)) sscanf(line, "Listening on 127.0.0.1:%d", &port);
    }
    // Waits for the collector to end and returns what it printed after the
    // listening line, and its exit status.
    std::pair<std::string, int> finish() {
        std::string text;
        char line[256];
        while (fgets(line, sizeof line, pipe)) text += line;
        int status = pclose(pipe);
        return {text, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
    }
};

TEST(ServerConnection, CollectorReceivesEveryFrameThenTheClose) {
    test::temp_dir dir;
    std::mt19937 random(11);
    std::vector<test::pcap_record> records;
    for (size_t size : {60, 61, 64, 128, 590, 1000, 1514, 1515, 9000, 42, 60, 1514}) {
        bytes frame = trace::ethernet_frame(size);
        for (size_t i = 14; i < size; ++i) frame[i] = static_cast<uint8_t>(random());
        records.push_back({frame});
    }
    records.push_back({frames::tcp(40000, 80, "GET / HTTP/1.1\r\n\r\n")});
    records.push_back({frames::udp(40001, 53, "query")});
    bytes capture_file = test::pcap_file(records);
    test::write_file(dir.file("in.pcap"), capture_file);

    running_collector server(dir.file("out.pcap"));
    ASSERT_GT(server.port, 0);
    std::string port = std::to_string(server.port);
    test::run_result r = test::run_nodrix(
        {"-P", dir.file("in.pcap"), "--server-addr", "127.0.0.1", "--server-port", port, "--calc-checksums"});
    auto [said, status] = server.finish();
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(0u, r.out.find("Open connection to ZELK-Server(127.0.0.1:" + port + ").\nConnected.\n")) << r.out;
    EXPECT_EQ(0, status);
    EXPECT_NE(std::string::npos, said.find("Session 1 closed after 14 frames\n")) << said;
    std::vector<bytes> received = pcap_frames(test::read_file(dir.file("out.pcap")));
    ASSERT_EQ(records.size(), received.size());
    for (size_t i = 0; i < records.size(); ++i) EXPECT_EQ(records[i].data, received[i]) << "frame " << i + 1;
}

TEST(ServerConnection, FileReadersCloseTheSession) {
    test::temp_dir dir;
    test::write_file(dir.file("t.snoop"), trace::snoop_file({trace::snoop_record(trace::ethernet_frame())}));
    running_collector server(dir.file("out.pcap"));
    ASSERT_GT(server.port, 0);
    test::run_result r = test::run_nodrix(
        {"-S", dir.file("t.snoop"), "--server-addr", "localhost", "--server-port", std::to_string(server.port)});
    auto [said, status] = server.finish();
    EXPECT_EQ(0, r.status);
    EXPECT_NE(std::string::npos, said.find("Session 1 closed after 0 frames\n")) << said;
}

// A server scripted by the test: it listens on a free loopback port.
struct scripted_server {
    int listener = -1;
    int port = 0;
    scripted_server() {
        listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t n = sizeof a;
        if (bind(listener, reinterpret_cast<sockaddr*>(&a), n) == 0 && listen(listener, 1) == 0 &&
            getsockname(listener, reinterpret_cast<sockaddr*>(&a), &n) == 0)
            port = ntohs(a.sin_port);
    }
    ~scripted_server() { close(listener); }
};

bytes receive_all(int s) {
    bytes all;
    uint8_t buffer[4096];
    for (ssize_t n; (n = recv(s, buffer, sizeof buffer, 0)) > 0;) all.insert(all.end(), buffer, buffer + n);
    return all;
}

TEST(ServerConnection, MessagesByteForByte) {
    test::temp_dir dir;
    bytes frame = trace::ethernet_frame(60);
    test::write_file(dir.file("in.pcap"), test::pcap_file({{frame}, {frame}}));
    scripted_server server;
    ASSERT_GT(server.port, 0);
    bytes received;
    std::thread script([&] {
        int s = accept(server.listener, nullptr, nullptr);
        // Unrelated bytes first: the client waits for a real acknowledgement.
        send(s, "\x01\x00\x00\x07\x03\x00\x00\x08", 8, 0);
        usleep(100000);
        send(s, "\x01\x00\x12\x34\x04\x00\x00\x08", 8, 0);
        received = receive_all(s);
        close(s);
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
    std::vector<test::pcap_record> records(400, {trace::ethernet_frame(1000)});
    test::write_file(dir.file("in.pcap"), test::pcap_file(records));
    {
        // The server hangs up right after the acknowledgement: the next
        // sends fail and the program ends with status 1, not by SIGPIPE.
        scripted_server server;
        std::thread script([&] {
            int s = accept(server.listener, nullptr, nullptr);
            uint8_t open_request[8];
            recv(s, open_request, sizeof open_request, MSG_WAITALL);
            send(s, "\x01\x00\x00\x01\x04\x00\x00\x08", 8, 0);
            close(s);
        });
        test::run_result r = test::run_nodrix({"-P", dir.file("in.pcap"), "--quiet", "--server-addr", "127.0.0.1",
                                               "--server-port", std::to_string(server.port)});
        script.join();
        EXPECT_EQ(1, r.status);
    }
    int free_port;
    {
        scripted_server closed;
        free_port = closed.port;
    }
    struct {
        std::vector<std::string> args;
        std::string out, err;
    } cases[] = {
        {{"--server-addr", "127.0.0.1", "--server-port", std::to_string(free_port)},
         "Open connection to ZELK-Server(127.0.0.1:" + std::to_string(free_port) + ").\n",
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
