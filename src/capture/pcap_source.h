// Live capture and pcap files through libpcap.
#pragma once

#include <pcap/pcap.h>

#include <cstdint>

int run_pcap_capture(const char* program_path, int promisc, int snaplen, const char* filter_rule, int optimize,
                     int max_packets);
void pcap_frame_handler(u_char* user, const pcap_pkthdr* packet_header, const u_char* frame);
// A record's time stamp as seconds, microseconds and the nanoseconds past
// the microsecond, whichever precision the open handle reads.
struct frame_stamp {
    long seconds;
    unsigned microseconds;
    unsigned nano_rest;
};
frame_stamp stamp_of(const pcap_pkthdr* header);
void capture_summary();
// The kernel's counts at the end of a live capture, once the closing line
// has told them.
struct live_capture_counts {
    bool known;
    unsigned long received;
    unsigned long dropped_kernel;
    unsigned long dropped_interface;
};
extern live_capture_counts live_counts;
// The raw hex dump of --print-raw-hex unless a payload dump was asked for.
struct decode_context;
void print_raw_hex(decode_context& cx, const uint8_t* frame, uint32_t captured);
// "N frames, M bytes read." at the end of a file read, when standard
// output is a terminal and no quiet mode is on.
void print_read_totals();
