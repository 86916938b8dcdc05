// EtherIP: Ethernet frames tunnelled in IP (IP protocol 97).
#pragma once

#include <cstdint>

#include "capture/frame.h"

int decode_etherip(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
