// One frame through a link decoder and the JSON or summary writer; see
// entry_points.h for the input layout.
#include "entry_points.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::structured_frame_input(data, size);
    return 0;
}
