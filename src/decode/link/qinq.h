// 802.1ad (QinQ) service tags, EtherType 0x88a8 (and the older 0x9100).
#pragma once

#include <cstdint>

#include "capture/frame.h"

// `offset` is that of the first tag control word, behind the tag's
// EtherType `tpid`.
int decode_qinq(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset, uint16_t tpid);
