// The raw log (--logfile-raw): a pcap file of the frames as captured. A
// failed write stops the run, and the file then ends with its last whole
// record.
#pragma once

#include <pcap/pcap.h>

// Opens the raw log for the handle's link type and snap length into
// capture.raw_log_dumper: created with mode 0600, never through a symbolic
// link another user planted. False with the reason in errbuf.
bool open_raw_log(pcap_t* handle, const char* path, char* errbuf);
// Appends one frame; a failed write stops the run.
void write_raw_log(const pcap_pkthdr* header, const uint8_t* frame);
// A failed write since the last check stops the run.
void check_raw_log();
// Flushes, checks and closes the raw log, cutting a record left incomplete.
void close_raw_log();
// For a fatal signal: writes the whole records not yet written with
// write(2) alone. Async-signal-safe.
void write_raw_log_at_fault();
