// The datagram an ICMP or ICMPv6 error message quotes: its IP header and
// the first bytes of its transport header, as an inner layer.
#pragma once

#include <cstdint>

#include "decode/context.h"

// Decodes the quote from q up to the end of the ICMP message. `what` names
// the error for the summary line.
void decode_icmp_quote(decode_context& cx, const uint8_t* q, const char* what);
