// FTP control connections (TCP port 21).
#pragma once

#include <cstdint>

#include "capture/frame.h"

int decode_ftp(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
