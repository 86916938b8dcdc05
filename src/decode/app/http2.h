// HTTP/2 over cleartext TCP (h2c): with prior knowledge (the connection
// preface) and after an HTTP/1.1 upgrade. Frames, SETTINGS, errors, and
// header blocks through HPACK with a table per connection and direction.
#pragma once

#include <cstddef>
#include <cstdint>

#include "capture/frame.h"

int decode_http2(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);

// The payload begins with the client's connection preface (or as much of
// it as there is, at least 4 bytes).
bool looks_like_h2_preface(const uint8_t* p, size_t n);
// The payload begins with the SETTINGS frame a server sends first, before
// the client's preface arrives: stream 0, no flags, known setting ids.
bool looks_like_h2_settings(decode_context& cx, const uint8_t* p, size_t n);
// The payload belongs to a connection known to carry HTTP/2.
bool known_h2_flow(decode_context& cx, const uint8_t* payload, size_t length);

// The 101 answer to an upgrade to h2c: both directions carry frames from
// here on; the bytes at offset behind the head are the first of them.
void http2_upgraded(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset,
                    bool frames_follow);

// For the TCP reassembly: the length of the preface or frame at p.
size_t http2_message_length(const uint8_t* p, size_t n);
