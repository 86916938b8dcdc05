#include "decode/link/llc.h"

#include "decode/decoder.h"

int decode_llc(const frame_lengths*, const uint8_t*, unsigned, uint16_t) {
    zelk_printf("\n- LLC Header -");
    return 0;
}
