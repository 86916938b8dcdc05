#include "capture/iptrace.h"

#include <cstdlib>
#include <cstring>

#include "capture/frame.h"
#include "capture/frame_time.h"
#include "capture/status_lines.h"
#include "capture/pcap_source.h"
#include "decode/decoder.h"
#include "decode/ip/ip.h"
#include "decode/link/ethernet.h"
#include "decode/link/token_ring.h"
#include "driver/run.h"
#include "driver/settings.h"
#include "output/record.h"
#include "pipeline/frame_loop.h"
#include "zelk.h"

namespace {

constexpr size_t version_text_length = 11;
constexpr size_t record_header_length = 40;
// The record length counts the frame bytes and 32 bytes of the header.
constexpr uint32_t record_length_base = 32;

// Interface types as numbered in the SNMP interfaces table.
void choose_decoder(uint8_t interface_type, captured_frame& f) {
    switch (interface_type) {
        case 6:  // Ethernet
        case 7:  // IEEE 802.3
            f.link_header_length = 14;
            f.link_type = 1;
            f.decoder = decode_ethernet;
            break;
        case 9:  // IEEE 802.5 Token Ring
            f.link_header_length = 14;
            f.link_type = 6;
            f.decoder = decode_token_ring;
            break;
        case 24:  // software loopback: IP behind a 4-byte link header
            f.link_header_length = 4;
            f.link_type = 0;
            f.decoder = decode_ip_version;
            break;
        default:
            f.link_type = capture.link_type;
            f.decoder = decode_unsupported_trace_frame;
            break;
    }
    capture.link_type = f.link_type;
}

}  // namespace

trace_outcome read_iptrace(int max_packets) {
    char version[version_text_length];
    if (read_trace_bytes(version, sizeof version) < sizeof version) return trace_outcome::header_unreadable;
    // The eleventh character is not compared.
    if (memcmp(version, "iptrace 1.0", 10) == 0) {
        trace_file_failure("File type is iptrace version 1.0. Not supported @ the moment!\n");
        return trace_outcome::unreadable;
    }
    if (memcmp(version, "iptrace 2.0", 10) != 0) {
        trace_file_failure("Unknown iptrace file format.\n");
        return trace_outcome::unreadable;
    }
    {
        status_lines startup;
        zelk_printf("File type is iptrace version 2.0.\n");
    }

    unsigned long records = 0;
    for (;;) {
        if (capture.stop_signal) return trace_outcome::stopped;
        if (trace_at_end()) {
            frame_loop_drain();
            status_lines closing;
            print_read_totals();
            zelk_printf("\nRead iptrace dump file completed.\n");
            return trace_outcome::finished;
        }
        ++records;
        // What a short read leaves unread stays zero.
        uint8_t header[record_header_length] = {};
        if (read_trace_bytes(header, sizeof header) == 0) return failed_read(true);
        uint32_t record_length = trace_be32(header);
        if (record_length < record_length_base) return trace_outcome::truncated;
        uint32_t frame_length = record_length - record_length_base;
        if (frame_length > largest_trace_frame) return trace_outcome::truncated;
        if (frame_length > 0) {
            size_t got = 0;
            uint8_t* frame = read_record_data(frame_length, &got);
            if (got == 0) {
                free(frame);
                return failed_read(false);
            }
            captured_frame f{};
            f.bytes = frame;
            // A frame cut short by the end of the file is decoded as far as it was read.
            f.lengths = frame_lengths{static_cast<uint32_t>(got), frame_length};
            // Time stamps are big-endian like every other field of the record.
            f.seconds = static_cast<long>(trace_be32(header + 32));
            f.line = frame_line_kind::read_length;
            f.line_length = frame_length;
            choose_decoder(header[28], f);
            f.skip_server = true;
            frame_loop_handle(f);
            free(frame);
            if (got < frame_length) return cut_record();
        }
        if (max_packets > 0 && records == static_cast<unsigned long>(max_packets)) {
            frame_loop_drain();
            status_lines closing;
            print_read_totals();
            zelk_printf("\nRead iptrace dump file completed.\n");
            return trace_outcome::finished;
        }
    }
}

void read_iptrace_file(int max_packets) {
    const char* path = settings.iptrace_file;
    {
        status_lines startup;
        zelk_printf("Read packet(s) from file: %s.\n", path);
    }
    if (!open_trace_file(path)) {
        zelk_fprintf(stderr, "Error: Can't open iptrace file %s.\n", path);
        exit(1);
    }
    begin_capture();
    finish_trace_file(read_iptrace(max_packets), "Error occured while Iptrace version reading.\n");
}
