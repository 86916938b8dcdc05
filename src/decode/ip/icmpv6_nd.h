// ICMPv6 neighbour discovery (router and neighbour solicitations and
// advertisements, redirects) with their options, and MLDv2 reports.
#pragma once

#include <cstdint>

struct decode_context;

// The message body behind the ICMPv6 type, code and checksum; for types
// 133 to 137 and 143, others are left alone.
void decode_icmpv6_nd(decode_context& cx, const uint8_t* frame, unsigned offset, uint8_t type);
