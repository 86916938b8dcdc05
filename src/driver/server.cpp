#include "driver/server.h"

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "capture/frame.h"
#include "zelk.h"

namespace {

int server_socket = -1;
uint16_t session_number;
// One message at most: a header and a frame of up to 65535 bytes.
uint8_t message[server_header_length + 65535];

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

// A server that has gone away ends the program with status 1; without
// MSG_NOSIGNAL the write would raise SIGPIPE instead.
void send_all(const uint8_t* data, size_t length) {
    while (length > 0) {
        ssize_t sent = send(server_socket, data, length, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) continue;
            exit(1);
        }
        data += sent;
        length -= static_cast<size_t>(sent);
    }
}

// Waits for the acknowledgement; false when a signal asked to stop.
bool wait_for_acknowledgement() {
    static uint8_t block[65535];
    for (;;) {
        pollfd p{server_socket, POLLIN, 0};
        int ready = poll(&p, 1, 250);
        if (capture.stop_signal) return false;
        if (ready < 0 && errno != EINTR) exit(1);
        if (ready <= 0) continue;
        memset(block, 0, sizeof block);
        ssize_t n = recv(server_socket, block, sizeof block, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) exit(1);
        // Every block that does not begin with an acknowledgement is ignored.
        if (n >= 6 && block[0] == server_marker && block[4] == server_type_acknowledgement && block[5] == 0) {
            session_number = static_cast<uint16_t>((block[2] << 8) | block[3]);
            return true;
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
    if (connect(s, reinterpret_cast<const sockaddr*>(&server), sizeof server) < 0) {
        zelk_fprintf(stderr, "Error: Can't connect to server.\n");
        exit(1);
    }
    server_socket = s;
    session_number = 0;
    put_header(message, server_type_open_close, server_subtype_open, server_header_length);
    send_all(message, server_header_length);
    if (!wait_for_acknowledgement()) return -1;
    zelk_printf("Connected.\n");
    return 0;
}

void server_send_frame(const uint8_t* frame, uint16_t length) {
    if (server_socket < 0) return;
    // The length field holds the message length modulo 65536.
    put_header(message, server_type_frame, 0, static_cast<uint16_t>(length + server_header_length));
    memcpy(message + server_header_length, frame, length);
    send_all(message, server_header_length + length);
}

void server_close() {
    if (server_socket < 0) return;
    put_header(message, server_type_open_close, server_subtype_close, server_header_length);
    send_all(message, server_header_length);
    close(server_socket);
    server_socket = -1;
}
