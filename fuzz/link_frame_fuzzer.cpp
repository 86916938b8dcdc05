// One frame through a link decoder; see entry_points.h for the input layout.
#include "entry_points.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::link_frame_input(data, size);
    return 0;
}
