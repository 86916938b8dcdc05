// The iptrace and snoop readers on a file in memory; see entry_points.h for the input layout.
#include "entry_points.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::trace_file_input(data, size);
    return 0;
}
