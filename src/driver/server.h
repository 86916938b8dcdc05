// The connection to a collecting server, which receives a copy of every
// captured frame over TCP.
#pragma once

#include <cstdint>

// Message header: marker, reserved, session number, type, subtype, length
// (the whole message, header included); multi-byte fields in network order.
constexpr unsigned server_header_length = 8;
constexpr uint8_t server_marker = 1;
constexpr uint8_t server_type_open_close = 3;
constexpr uint8_t server_type_acknowledgement = 4;
constexpr uint8_t server_type_frame = 8;
constexpr uint8_t server_subtype_open = 0;
constexpr uint8_t server_subtype_close = 1;

// Connects and waits for the server to assign a session number; returns 0
// when connected, -1 when a signal stopped the wait; ends the program on
// errors.
int server_connect(const char* address, uint16_t port);
// Sends one frame, cut to what a message can carry; a server that has gone
// away or stopped reading stops the run.
void server_send_frame(const uint8_t* frame, uint32_t length);
// Says how many frames went out cut, if any.
void server_report();
// Sends the close message and closes the socket, if one is open.
void server_close();
