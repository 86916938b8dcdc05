// Tunnels and header chains nested from a recipe, decoded in every output
// mode; see entry_points.h for the input layout.
#include "entry_points.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::nesting_input(data, size);
    return 0;
}
