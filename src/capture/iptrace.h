// iptrace 2.0 capture files, plain or gzip-compressed.
#pragma once

#include "capture/trace_file.h"

// Reads and decodes the --iptrace-file file, then ends the program; returns
// only when a signal stopped the reading (the exit handler ends the run).
// max_packets is -1 for no limit.
void read_iptrace_file(int max_packets);

// Reads the version text and the records of the open trace file.
trace_outcome read_iptrace(int max_packets);
