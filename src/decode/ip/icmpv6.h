// ICMPv6 messages (IPv6 next header 58).
#pragma once

#include <cstdint>

struct decode_context;

int decode_icmpv6(decode_context& cx, const uint8_t* frame, unsigned offset);
