// A --where expression, compiled and judged on one frame; see
// entry_points.h for the input layout.
#include "entry_points.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::where_expression_input(data, size);
    return 0;
}
