// Opens a capture file for reading: pcap or pcapng, plain or
// gzip-compressed, or standard input for "-".
#pragma once

#include <pcap/pcap.h>

// Returns the open handle, or null with the reason in errbuf
// (PCAP_ERRBUF_SIZE bytes). A nanosecond pcap file and pcapng are read
// with nanosecond time stamps (pcap_get_tstamp_precision tells), the
// others with microseconds; nanosecond_pcap, when given, says whether the
// file is a nanosecond pcap file.
pcap_t* open_pcap_file(const char* path, char* errbuf, bool* nanosecond_pcap = nullptr);

// zlib's reason when the compressed file being read turned out damaged
// (the frames before the damage were all handed on), or null.
const char* compressed_read_error();

// Opens a live device in immediate mode; null with the reason in errbuf,
// worded as pcap_open_live words it. buffer_mib sizes the kernel's capture
// buffer; 0 leaves libpcap's default.
pcap_t* open_live_device(const char* device, int snaplen, int promisc, char* errbuf, unsigned buffer_mib = 0);
