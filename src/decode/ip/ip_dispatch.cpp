#include "decode/decoder.h"
#include "decode/ip/ip.h"

int decode_ip_payload(const frame_lengths* lengths, const uint8_t* frame, unsigned offset, uint16_t protocol) {
    switch (protocol) {
        default:
            break;
    }
    (void)lengths;
    (void)frame;
    (void)offset;
    return 0;
}
