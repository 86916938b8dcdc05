// OSPF packet bodies (versions 2 and 3), shown under --expand-all behind
// the header lines: hello, database description, link-state requests,
// updates with their LSAs, and acknowledgements.
#pragma once

#include <cstdint>

struct decode_context;

// The header was printed already; `offset` is where it starts.
void decode_ospf_body(decode_context& cx, const uint8_t* frame, unsigned offset, unsigned version);
