// Opens a capture file for reading: pcap or pcapng, plain or
// gzip-compressed, or standard input for "-".
#pragma once

#include <pcap/pcap.h>

// Returns the open handle, or null with the reason in errbuf
// (PCAP_ERRBUF_SIZE bytes).
pcap_t* open_pcap_file(const char* path, char* errbuf);
