#include "decode/ip/ipx.h"

#include "decode/decoder.h"

int decode_ipx(const uint8_t*, unsigned) {
    zelk_printf("\n- IPX Header -\n");
    return 0;
}
