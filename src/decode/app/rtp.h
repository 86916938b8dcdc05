// RTP and RTCP (RFC 3550) over UDP: on the ports that SDP announced, and
// on even (RTP) or odd (RTCP) ports from 1024 up when the bytes fit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "capture/frame.h"

bool looks_like_rtp(decode_context& cx, const uint8_t* payload, size_t length);
bool looks_like_rtcp(decode_context& cx, const uint8_t* payload, size_t length);
int decode_rtp(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
int decode_rtcp(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);

// An SDP media line: RTP on `port` of `address`, RTCP on the port after;
// `formats` name the dynamic payload types.
void announce_sdp_media(decode_context& cx, const std::string& address, unsigned port,
                        const std::vector<std::pair<uint8_t, std::string>>& formats);
