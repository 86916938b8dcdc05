#include "decode/decoder.h"
#include "decode/link/ethernet.h"

int decode_ethertype(const frame_lengths* lengths, const uint8_t* frame, unsigned offset, uint16_t type) {
    switch (type) {
        default:
            zelk_printf("\n");
            break;
    }
    (void)lengths;
    (void)frame;
    (void)offset;
    return 0;
}
