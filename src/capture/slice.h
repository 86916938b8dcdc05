// Record-aligned slices of a capture file (--range, --index): a file is cut
// into byte ranges that are decoded one by one, on one host or many, and the
// outputs of the slices, put together in order, are the output of the whole
// file.
#pragma once

#include <pcap/pcap.h>

#include <cstdint>

// Refuses what a slice cannot do (gzip, pipes, other sources, whole-run
// reports, a filter) and reads the slice options; ends the program with a
// message on standard error when refused.
void check_slice_options(char** argv);

// --index N: prints "frame NUMBER OFFSET PREVIOUS" for every N-th frame and
// "end FRAMES OFFSET" last; returns the exit status.
bool slice_index_wanted();
int print_slice_index();

// Whether this run decodes one slice (--range).
bool slice_active();

// Positions the freshly opened file at the first record of the slice and
// sets the frame number and the time stamps the slice continues from.
// Returns false when no record of the file begins inside the range.
bool slice_begin(pcap_t* handle);

// Called after each record: true once the next record begins at or past the
// end of the range (the reading loop then stops).
bool slice_done_after_record(pcap_t* handle);

// The opening line belongs to the slice that holds the file's first record,
// the closing lines to the slice that reads up to the end of the file.
bool slice_prints_opening();
bool slice_prints_closing();
