// Kerberos 5 (UDP and TCP port 88): AS and TGS exchanges, KRB-ERROR, and
// the AP-REQ that a TGS-REQ carries in its pre-authentication data.
#pragma once

#include <cstdint>

#include "capture/frame.h"

int decode_kerberos(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
// Over TCP each message follows a 4-byte record length.
int decode_kerberos_tcp(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
