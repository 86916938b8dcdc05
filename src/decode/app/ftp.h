// FTP control connections (TCP port 21).
#pragma once

#include <cstdint>

#include "capture/frame.h"

int decode_ftp(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
// The bytes of a data connection that the control connection announced.
int decode_ftp_data(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
