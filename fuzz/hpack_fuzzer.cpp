// HPACK header blocks against one dynamic table; see hpack_input.h.
#include "hpack_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::hpack_input(data, size);
    return 0;
}
