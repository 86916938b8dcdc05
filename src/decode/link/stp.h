// Spanning tree BPDUs: STP, RSTP and MSTP (LLC SAP 0x42).
#pragma once

#include <cstdint>

#include "capture/frame.h"

// `offset` is that of the BPDU, behind the LLC header.
int decode_stp(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
