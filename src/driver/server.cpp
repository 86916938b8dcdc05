#include "driver/server.h"

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "capture/frame.h"
#include "driver/run.h"
#include "driver/settings.h"
#include "zelk.h"

namespace {

int server_socket = -1;
uint16_t session_number;
// The largest frame a message carries: its length field counts the header.
constexpr uint32_t largest_frame = 65535 - server_header_length;
// One message at most: a header and the largest frame.
uint8_t message[server_header_length + largest_frame];
unsigned long frames_cut;

void put_header(uint8_t* header, uint8_t type, uint8_t subtype, uint16_t length) {
    header[0] = server_marker;
    header[1] = 0;
    header[2] = static_cast<uint8_t>(session_number >> 8);
    header[3] = static_cast<uint8_t>(session_number);
    header[4] = type;
    header[5] = subtype;
    header[6] = static_cast<uint8_t>(length >> 8);
    header[7] = static_cast<uint8_t>(length);
}

int timeout_ms() { return (settings.server_timeout > 0 ? settings.server_timeout : 10) * 1000; }

void drop_connection() {
    close(server_socket);
    server_socket = -1;
}

// Sends everything or says why not: a server that has gone away, or one
// that stopped reading for longer than the timeout. Never raises SIGPIPE.
bool send_all(const uint8_t* data, size_t length, const char** why) {
    while (length > 0) {
        ssize_t sent = send(server_socket, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                *why = strerror(errno);
                return false;
            }
            pollfd p{server_socket, POLLOUT, 0};
            int ready;
            do ready = poll(&p, 1, timeout_ms());
            while (ready < 0 && errno == EINTR);
            if (ready == 0) {
                *why = "it stopped reading";
                return false;
            }
            continue;
        }
        data += sent;
        length -= static_cast<size_t>(sent);
    }
    return true;
}

[[noreturn]] void connect_failed(const char* what) {
    zelk_fprintf(stderr, "Error: %s.\n", what);
    exit(1);
}

// Finds an acknowledgement header anywhere in the bytes; returns its
// offset or -1.
long find_acknowledgement(const uint8_t* bytes, size_t length) {
    for (size_t at = 0; at + 6 <= length; ++at)
        if (bytes[at] == server_marker && bytes[at + 4] == server_type_acknowledgement && bytes[at + 5] == 0)
            return static_cast<long>(at);
    return -1;
}

// Waits for the acknowledgement; false when a signal asked to stop.
bool wait_for_acknowledgement() {
    // What has arrived and may still hold the start of a header.
    static uint8_t stream[65535 + 8];
    size_t have = 0;
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        long waited = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
        if (waited >= timeout_ms()) {
            char text[96];
            snprintf(text, sizeof text, "No acknowledgement from the server within %d s", timeout_ms() / 1000);
            connect_failed(text);
        }
        pollfd p{server_socket, POLLIN, 0};
        int ready = poll(&p, 1, 250);
        if (capture.stop_signal) return false;
        if (ready < 0 && errno != EINTR) connect_failed("Can't wait for the server");
        if (ready <= 0) continue;
        ssize_t n = recv(server_socket, stream + have, sizeof stream - have, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) connect_failed("Can't receive from the server");
        if (n == 0) connect_failed("The server closed the connection before it acknowledged");
        have += static_cast<size_t>(n);
        long at = find_acknowledgement(stream, have);
        if (at >= 0) {
            session_number = static_cast<uint16_t>((stream[at + 2] << 8) | stream[at + 3]);
            return true;
        }
        // Only the last five bytes can begin a header still to come.
        if (have > 5) {
            memmove(stream, stream + have - 5, 5);
            have = 5;
        }
    }
}

}  // namespace

int server_connect(const char* address, uint16_t port) {
    zelk_printf("Open connection to ZELK-Server(%s:%d).\n", address, port);
    int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) {
        zelk_fprintf(stderr, "Error: Can't open socket.\n");
        exit(1);
    }
    const hostent* host = gethostbyname(address);
    if (!host || host->h_addrtype != AF_INET || !host->h_addr_list[0]) {
        zelk_fprintf(stderr, "Error: Can't resolve server address %s.\n", address);
        exit(1);
    }
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(port);
    memcpy(&server.sin_addr, host->h_addr_list[0], sizeof server.sin_addr);
    // A server that never answers the connect is given the timeout too.
    timeval limit{settings.server_timeout > 0 ? settings.server_timeout : 10, 0};
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    if (connect(s, reinterpret_cast<const sockaddr*>(&server), sizeof server) < 0) {
        zelk_fprintf(stderr, "Error: Can't connect to server.\n");
        exit(1);
    }
    server_socket = s;
    session_number = 0;
    put_header(message, server_type_open_close, server_subtype_open, server_header_length);
    const char* why = nullptr;
    if (!send_all(message, server_header_length, &why)) {
        zelk_fprintf(stderr, "Error: Can't send to the server: %s.\n", why);
        exit(1);
    }
    if (!wait_for_acknowledgement()) return -1;
    zelk_printf("Connected.\n");
    return 0;
}

void server_send_frame(const uint8_t* frame, uint32_t length) {
    if (server_socket < 0) return;
    // A longer frame would not fit the length field; it goes out cut.
    if (length > largest_frame) {
        length = largest_frame;
        ++frames_cut;
    }
    put_header(message, server_type_frame, 0, static_cast<uint16_t>(length + server_header_length));
    memcpy(message + server_header_length, frame, length);
    const char* why = nullptr;
    if (!send_all(message, server_header_length + length, &why)) {
        drop_connection();
        stop_with_error("Lost the collecting server: %s", why);
    }
}

void server_report() {
    if (frames_cut)
        zelk_printf("\nNote: %lu frame(s) longer than %u bytes were sent to the server cut to %u bytes.\n", frames_cut,
                    largest_frame, largest_frame);
    frames_cut = 0;
}

void server_close() {
    server_report();
    if (server_socket < 0) return;
    put_header(message, server_type_open_close, server_subtype_close, server_header_length);
    const char* why = nullptr;
    if (!send_all(message, server_header_length, &why)) {
        fprintf(stderr, "Error: Lost the collecting server: %s.\n", why);
        capture.exit_status = 1;
    }
    drop_connection();
}
