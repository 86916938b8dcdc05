// A pcap file in memory through the pcap frame handler; see entry_points.h for the input layout.
#include "entry_points.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::pcap_file_input(data, size);
    return 0;
}
