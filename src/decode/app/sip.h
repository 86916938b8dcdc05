// SIP (UDP and TCP port 5060) and the SDP bodies it carries.
#pragma once

#include <cstdint>

#include "capture/frame.h"

int decode_sip(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
