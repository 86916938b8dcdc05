// A collecting server that misbehaves: the client neither hangs nor ends
// silently, and keeps the stream in step.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "support.h"

namespace {

using namespace std::chrono_literals;

const test::bytes acknowledgement = test::hex("01 00 002a 04 00 0008");

// Accepts one client and hands it to the script.
struct scripted_server {
    int listener = -1;
    uint16_t port = 0;
    std::thread thread;
    std::atomic<bool> done{false};
    test::bytes received;

    explicit scripted_server(std::function<void(scripted_server&, int)> script) {
        listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t length = sizeof a;
        getsockname(listener, reinterpret_cast<sockaddr*>(&a), &length);
        port = ntohs(a.sin_port);
        listen(listener, 1);
        thread = std::thread([this, script] {
            int client = accept(listener, nullptr, nullptr);
            if (client >= 0) {
                script(*this, client);
                close(client);
            }
        });
    }
    ~scripted_server() {
        done = true;
        shutdown(listener, SHUT_RDWR);
        close(listener);
        if (thread.joinable()) thread.join();
    }
    // Waits until the script has ended (for read_all: until the client hung
    // up), so that `received` holds everything.
    void finish() {
        if (thread.joinable()) thread.join();
    }
    void read_all(int client) {
        uint8_t buffer[65536];
        ssize_t n;
        while ((n = recv(client, buffer, sizeof buffer, 0)) > 0) received.insert(received.end(), buffer, buffer + n);
    }
    void idle() {
        while (!done) std::this_thread::sleep_for(10ms);
    }
};

void send_bytes(int client, const test::bytes& b) { send(client, b.data(), b.size(), MSG_NOSIGNAL); }

std::string capture_of(const test::temp_dir& dir, unsigned frames, size_t size) {
    test::bytes frame = test::hex("020000000002 020000000001 88b5");
    frame.resize(size, 0x5a);
    std::string path = dir.file("in.pcap");
    test::write_file(path,
                     test::pcap_file(std::vector<test::pcap_record>(frames, test::pcap_record{frame}), 1, 262144));
    return path;
}

test::run_result run_against(const scripted_server& server, const std::string& input,
                             std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"-P",        input,           "--server-addr",
                                     "127.0.0.1", "--server-port", std::to_string(server.port)};
    args.insert(args.end(), extra.begin(), extra.end());
    return test::run_nodrix(args, 60);
}

TEST(ServerFailures, AcknowledgementBehindJunkInOneSegment) {
    test::temp_dir dir;
    scripted_server server([](scripted_server& s, int client) {
        send_bytes(client, test::concat({test::hex("07 07 01 00"), acknowledgement}));
        s.read_all(client);
    });
    auto r = run_against(server, capture_of(dir, 2, 60), {"--server-timeout", "3"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Connected.\n"), std::string::npos);
}

TEST(ServerFailures, TimeoutsAndALostServer) {
    test::temp_dir dir;
    struct {
        const char* name;
        std::function<void(scripted_server&, int)> script;
        unsigned frames;
        size_t size;
        std::string err;
        bool reports;
    } cases[] = {
        {"never answers", [](scripted_server& s, int) { s.idle(); }, 1, 60,
         "Error: No acknowledgement from the server within 1 s.\n", false},
        {"stops reading",
         [](scripted_server& s, int client) {
             send_bytes(client, acknowledgement);
             s.idle();
         },
         400, 65000, "Error: Lost the collecting server: it stopped reading.\n", true},
        {"goes away",
         [](scripted_server&, int client) {
             uint8_t open_request[8];
             recv(client, open_request, sizeof open_request, MSG_WAITALL);
             send_bytes(client, acknowledgement);
         },
         2000, 1000, "Error: Lost the collecting server: ", true},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string input = capture_of(dir, c.frames, c.size);
        scripted_server server(c.script);
        auto started = std::chrono::steady_clock::now();
        auto r = run_against(server, input, {"--server-timeout", "1"});
        EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
        EXPECT_EQ(r.out.ends_with("\nExit.\n"), c.reports) << r.out.substr(r.out.size() > 300 ? r.out.size() - 300 : 0);
    }
}

TEST(ServerFailures, LongFramesAreCutAndTheStreamStaysInStep) {
    test::temp_dir dir;
    auto server = std::make_unique<scripted_server>([](scripted_server& s, int client) {
        send_bytes(client, acknowledgement);
        s.read_all(client);
    });
    auto r = run_against(*server, capture_of(dir, 2, 70000));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\nNote: 2 frame(s) longer than 65527 bytes were sent to the server cut to 65527 bytes.\n"),
              std::string::npos);
    server->finish();
    test::bytes stream = std::move(server->received);
    server.reset();
    // Open, two cut frames, close: every length field is exact.
    std::vector<std::pair<int, size_t>> messages;
    for (size_t at = 0; at + 8 <= stream.size();) {
        size_t length = stream[at + 6] << 8 | stream[at + 7];
        messages.push_back({stream[at + 4], length});
        at += length;
    }
    std::vector<std::pair<int, size_t>> expected = {{3, 8}, {8, 65535}, {8, 65535}, {3, 8}};
    EXPECT_EQ(messages, expected);
    EXPECT_EQ(stream.size(), 8 + 2 * 65535 + 8u);
}

}  // namespace
