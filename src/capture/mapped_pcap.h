#pragma once

#include <pcap.h>

// Hands the well-formed records of a plain pcap file in the machine's byte
// order from a large read buffer to handler, as pcap_loop would, and
// leaves the file's stream at the first record it did not hand over (a
// cut or odd record, or the end) for libpcap to read and judge. Reads
// nothing when the file is not such a file. filter may be null.
// Returns the number of frames handed over; *stopped is set when the
// run asked to stop, or stop_requested (may be null) said so after a frame.
long read_mapped_pcap(pcap_t* handle, const bpf_program* filter, long max_packets, pcap_handler handler, u_char* user,
                      bool (*stop_requested)(), bool* stopped);

// The byte offset in the file after the record just handed over, whether
// it came from the map or through libpcap.
long capture_file_position(pcap_t* handle);
