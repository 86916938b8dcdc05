#include "capture/snoop.h"

#include <cstdlib>
#include <cstring>

#include "capture/frame.h"
#include "capture/frame_time.h"
#include "capture/status_lines.h"
#include "capture/pcap_source.h"
#include "decode/decoder.h"
#include "decode/link/ethernet.h"
#include "decode/link/fddi.h"
#include "decode/link/token_ring.h"
#include "driver/run.h"
#include "driver/settings.h"
#include "output/record.h"
#include "pipeline/frame_loop.h"
#include "zelk.h"

namespace {

constexpr size_t file_header_length = 16;
constexpr size_t record_header_length = 24;

// Datalink types as numbered by the snoop format.
void choose_decoder(uint32_t datalink_type, captured_frame& f) {
    switch (datalink_type) {
        case 0:  // IEEE 802.3
        case 4:  // Ethernet
            f.link_header_length = 14;
            f.link_type = 1;
            f.decoder = decode_ethernet;
            break;
        case 2:  // IEEE 802.5 Token Ring
            f.link_header_length = 14;
            f.link_type = 6;
            f.decoder = decode_token_ring;
            break;
        case 8:  // FDDI
            f.link_header_length = 21;
            f.link_type = 10;
            f.decoder = decode_fddi;
            break;
        default:
            f.link_type = capture.link_type;
            f.decoder = decode_unsupported_trace_frame;
            break;
    }
    capture.link_type = f.link_type;
}

}  // namespace

trace_outcome read_snoop(int max_packets) {
    uint8_t file_header[file_header_length];
    if (read_trace_bytes(file_header, sizeof file_header) < sizeof file_header) return trace_outcome::header_unreadable;
    // "snoop" and a NUL; what follows in the eight bytes does not matter.
    if (strncmp(reinterpret_cast<const char*>(file_header), "snoop", 8) != 0) {
        trace_file_failure("Unknown snoop file format(wrong magic).\n");
        return trace_outcome::unreadable;
    }
    uint32_t version = trace_be32(file_header + 8);
    if (version < 2 || version > 5) {
        trace_file_failure("Unknown snoop version %u.\n", version);
        return trace_outcome::unreadable;
    }
    uint32_t datalink_type = trace_be32(file_header + 12);

    unsigned long records = 0;
    for (;;) {
        if (capture.stop_signal) return trace_outcome::stopped;
        if (trace_at_end()) {
            frame_loop_drain();
            status_lines closing;
            print_read_totals();
            zelk_printf("\nRead snoop dump file completed.\n");
            return trace_outcome::finished;
        }
        ++records;
        // What a short read leaves unread stays zero.
        uint8_t header[record_header_length] = {};
        if (read_trace_bytes(header, sizeof header) == 0) return failed_read(true);
        uint32_t untruncated_length = trace_be32(header);
        uint32_t included_length = trace_be32(header + 4);
        uint32_t record_length = trace_be32(header + 8);
        // A record must hold its header and its included bytes.
        if (record_length < record_header_length || included_length > record_length - record_header_length)
            return trace_outcome::truncated;
        uint32_t data_length = record_length - record_header_length;
        // Room for the frame and its padding to four bytes, no more.
        if (included_length > largest_trace_frame || data_length > largest_trace_frame + 4)
            return trace_outcome::truncated;
        size_t got = 0;
        uint8_t* data = read_record_data(data_length, &got);
        // A record without data is an empty frame, not a failed read.
        if (got == 0 && data_length > 0) {
            free(data);
            return failed_read(false);
        }
        // A record cut short by the end of the file is decoded as far as it was read.
        uint32_t captured = got < included_length ? static_cast<uint32_t>(got) : included_length;
        captured_frame f{};
        f.bytes = data;
        f.lengths = frame_lengths{captured, untruncated_length};
        f.seconds = static_cast<long>(trace_be32(header + 16));
        f.microseconds = trace_be32(header + 20);
        f.line = frame_line_kind::read_lengths;
        f.line_length = included_length;
        choose_decoder(datalink_type, f);
        f.skip_server = true;
        frame_loop_handle(f);
        free(data);
        if (got < data_length) return cut_record();
        if (max_packets > 0 && records == static_cast<unsigned long>(max_packets)) {
            frame_loop_drain();
            status_lines closing;
            print_read_totals();
            zelk_printf("\nRead snoop dump file completed.\n");
            return trace_outcome::finished;
        }
    }
}

void read_snoop_file(int max_packets) {
    const char* path = settings.snoop_file;
    {
        status_lines startup;
        zelk_printf("Read packet(s) from file: %s.\n", path);
    }
    if (!open_trace_file(path)) {
        // Unlike the iptrace reader, this one reports on the output stream.
        trace_file_failure("Error: Can't open snoop file %s.\n", path);
        exit(1);
    }
    begin_capture();
    finish_trace_file(read_snoop(max_packets), "Error occured while Snoop file header reading.\n");
}
