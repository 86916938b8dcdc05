// IGRP (IP protocol 9) and EIGRP (IP protocol 88).
#pragma once

#include <cstdint>

#include "capture/frame.h"

int decode_igrp(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
int decode_eigrp(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
