// PIM (IP protocol 103, IPv6 next header 103): the common header.
#pragma once

#include <cstdint>

struct decode_context;

int decode_pim(decode_context& cx, const uint8_t* frame, unsigned offset);
// Behind IPv6 the checksum also covers a pseudo-header of the IPv6
// addresses, which this decoder is not given: the checksum is shown but not
// judged, as for TCP and UDP behind IPv6.
int decode_pim_over_ipv6(decode_context& cx, const uint8_t* frame, unsigned offset);
