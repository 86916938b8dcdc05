// Helpers shared by the routing and signalling decoders.
#pragma once

#include <cstdint>

#include "decode/decoder.h"

// Under --calc-checksums, judges the Internet checksum of the message at p,
// whose checksum field lies at field_offset. The message runs to the end of
// its IP payload, or `limit` bytes when that is shorter (some protocols
// checksum only their header). A message cut by the snap length is not
// judged and not counted.
void print_message_checksum_verdict(decode_context& cx, const uint8_t* p, size_t field_offset, uint32_t& bad_counter,
                                    size_t limit = SIZE_MAX);
