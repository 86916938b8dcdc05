// snoop capture files (versions 2 to 5), plain or gzip-compressed.
#pragma once

#include "capture/trace_file.h"

// Reads and decodes the --snoop-file file, then ends the program; returns
// only when a signal stopped the reading (the exit handler ends the run).
// max_packets is -1 for no limit.
void read_snoop_file(int max_packets);

// Reads the file header and the records of the open trace file.
trace_outcome read_snoop(int max_packets);
