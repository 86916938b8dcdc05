// ICMPv6 messages (IPv6 next header 58).
#pragma once

#include <cstdint>

int decode_icmpv6(const uint8_t* frame, unsigned offset);
