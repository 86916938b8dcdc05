// MQTT 3.1.1 and 5 control packets (TCP port 1883).
#pragma once

#include <cstdint>

#include "capture/frame.h"

int decode_mqtt(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
