// A small collecting server for nodrix --server-addr: it accepts clients one
// after another, answers each open request with an acknowledgement that
// carries a new session number, and appends every frame it receives to a
// pcap file.
//
// usage: collector [--address A] [--port P] [--linktype N] [--once] OUTPUT.pcap
//
// Port 0 picks a free port; the "Listening on" line names it. With --once the
// collector ends after its first session.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr size_t header_length = 8;
constexpr uint8_t marker = 1;
constexpr uint8_t type_open_close = 3;
constexpr uint8_t type_acknowledgement = 4;
constexpr uint8_t type_frame = 8;
constexpr uint8_t subtype_open = 0;
constexpr uint8_t subtype_close = 1;

[[noreturn]] void usage() {
    fprintf(stderr, "usage: collector [--address A] [--port P] [--linktype N] [--once] OUTPUT.pcap\n");
    exit(2);
}

[[noreturn]] void fail(const char* what) {
    fprintf(stderr, "collector: %s: %s\n", what, strerror(errno));
    exit(1);
}

// Reads exactly n bytes; false at the end of the connection or on an error.
bool read_exactly(int s, uint8_t* buffer, size_t n) {
    while (n > 0) {
        ssize_t got = recv(s, buffer, n, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        buffer += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

void put32(FILE* f, uint32_t v) { fwrite(&v, sizeof v, 1, f); }
void put16(FILE* f, uint16_t v) { fwrite(&v, sizeof v, 1, f); }

void write_pcap_header(FILE* f, uint32_t link_type) {
    put32(f, 0xa1b2c3d4);  // native byte order, microsecond time stamps
    put16(f, 2);
    put16(f, 4);
    put32(f, 0);  // time zone
    put32(f, 0);  // time stamp accuracy
    put32(f, 65535);
    put32(f, link_type);
}

void write_pcap_record(FILE* f, const uint8_t* frame, uint32_t length) {
    timeval now{};
    gettimeofday(&now, nullptr);
    put32(f, static_cast<uint32_t>(now.tv_sec));
    put32(f, static_cast<uint32_t>(now.tv_usec));
    put32(f, length);
    put32(f, length);
    fwrite(frame, 1, length, f);
    fflush(f);
}

// Serves one client until it closes its session or goes away.
void serve(int s, uint16_t session, FILE* out, const char* peer) {
    printf("Session %u opened by %s\n", session, peer);
    fflush(stdout);
    unsigned long frames = 0;
    std::vector<uint8_t> body;
    uint8_t header[header_length];
    for (;;) {
        if (!read_exactly(s, header, header_length)) break;
        if (header[0] != marker) {
            printf("Session %u: bad message marker %u\n", session, header[0]);
            break;
        }
        size_t length = (header[6] << 8) | header[7];
        if (length < header_length) {
            printf("Session %u: bad message length %zu\n", session, length);
            break;
        }
        body.resize(length - header_length);
        if (!body.empty() && !read_exactly(s, body.data(), body.size())) break;
        uint8_t type = header[4], subtype = header[5];
        if (type == type_open_close && subtype == subtype_open) {
            uint8_t ack[header_length] = {marker,
                                          0,
                                          static_cast<uint8_t>(session >> 8),
                                          static_cast<uint8_t>(session),
                                          type_acknowledgement,
                                          0,
                                          0,
                                          header_length};
            if (send(s, ack, sizeof ack, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof ack)) break;
        } else if (type == type_frame) {
            write_pcap_record(out, body.data(), static_cast<uint32_t>(body.size()));
            ++frames;
        } else if (type == type_open_close && subtype == subtype_close) {
            printf("Session %u closed after %lu frames\n", session, frames);
            fflush(stdout);
            return;
        }
    }
    printf("Session %u ended without close after %lu frames\n", session, frames);
    fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    std::string address = "127.0.0.1";
    unsigned long port = 2777, link_type = 1;
    bool once = false;
    const char* output = nullptr;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool has_value = i + 1 < argc;
        if (a == "--address" && has_value)
            address = argv[++i];
        else if (a == "--port" && has_value)
            port = strtoul(argv[++i], nullptr, 10);
        else if (a == "--linktype" && has_value)
            link_type = strtoul(argv[++i], nullptr, 10);
        else if (a == "--once")
            once = true;
        else if (a[0] != '-' && !output)
            output = argv[i];
        else
            usage();
    }
    if (!output || port > 65535) usage();

    FILE* out = fopen(output, "wb");
    if (!out) fail(output);
    write_pcap_header(out, static_cast<uint32_t>(link_type));
    fflush(out);

    int listener = socket(AF_INET, SOCK_STREAM, 0);
    if (listener < 0) fail("socket");
    int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1) usage();
    if (bind(listener, reinterpret_cast<sockaddr*>(&local), sizeof local) < 0) fail("bind");
    if (listen(listener, 8) < 0) fail("listen");
    socklen_t local_length = sizeof local;
    getsockname(listener, reinterpret_cast<sockaddr*>(&local), &local_length);
    printf("Listening on %s:%u\n", address.c_str(), ntohs(local.sin_port));
    fflush(stdout);

    for (uint16_t session = 1;; ++session) {
        sockaddr_in peer{};
        socklen_t peer_length = sizeof peer;
        int s = accept(listener, reinterpret_cast<sockaddr*>(&peer), &peer_length);
        if (s < 0) {
            if (errno == EINTR) continue;
            fail("accept");
        }
        std::string name = std::string(inet_ntoa(peer.sin_addr)) + ":" + std::to_string(ntohs(peer.sin_port));
        serve(s, session, out, name.c_str());
        close(s);
        if (once) break;
    }
    close(listener);
    return fclose(out) == 0 ? 0 : 1;
}
