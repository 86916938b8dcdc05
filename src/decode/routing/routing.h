// Helpers shared by the routing and signalling decoders.
#pragma once

#include <cstdint>
#include <cstdio>

#include "decode/decoder.h"

// Dotted-quad text of the IPv4 address at p; the text lives as long as the
// returned value (use it within one printf call).
struct ipv4_text {
    char text[16];
};
inline ipv4_text dotted_quad(const uint8_t* p) {
    need(p, 4);
    ipv4_text t;
    snprintf(t.text, sizeof t.text, "%d.%d.%d.%d", p[0], p[1], p[2], p[3]);
    return t;
}

// Under --calc-checksums, judges the Internet checksum of the message at p,
// whose checksum field lies at field_offset. The message runs to the end of
// its IP payload, or `limit` bytes when that is shorter (some protocols
// checksum only their header). A message cut by the snap length is not
// judged and not counted.
void print_message_checksum_verdict(const uint8_t* p, size_t field_offset, uint32_t& bad_counter,
                                    size_t limit = SIZE_MAX);
