// Segments and fragments through the reassembly tables; see entry_points.h
// for the input layout.
#include "entry_points.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::reassembly_input(data, size);
    return 0;
}
