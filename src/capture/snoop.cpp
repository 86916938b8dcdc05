#include "capture/snoop.h"

#include <cstdlib>
#include <cstring>

#include "capture/frame.h"
#include "capture/frame_time.h"
#include "capture/pcap_source.h"
#include "decode/link/ethernet.h"
#include "decode/link/fddi.h"
#include "decode/link/token_ring.h"
#include "driver/run.h"
#include "driver/settings.h"
#include "output/record.h"
#include "zelk.h"

namespace {

constexpr size_t file_header_length = 16;
constexpr size_t record_header_length = 24;

// Datalink types as numbered by the snoop format.
void decode_snoop_frame(uint32_t datalink_type, const frame_lengths* lengths, const uint8_t* frame) {
    switch (datalink_type) {
        case 0:  // IEEE 802.3
        case 4:  // Ethernet
            capture.link_header_length = 14;
            capture.link_type = 1;
            decode_frame(decode_ethernet, lengths, frame);
            break;
        case 2:  // IEEE 802.5 Token Ring
            capture.link_header_length = 14;
            capture.link_type = 6;
            decode_frame(decode_token_ring, lengths, frame);
            break;
        case 8:  // FDDI
            capture.link_header_length = 21;
            capture.link_type = 10;
            decode_frame(decode_fddi, lengths, frame);
            break;
        default: zelk_printf("\n- Not support packet type -\n"); break;
    }
}

}  // namespace

trace_outcome read_snoop(int max_packets) {
    uint8_t file_header[file_header_length];
    if (read_trace_bytes(file_header, sizeof file_header) < sizeof file_header) return trace_outcome::header_unreadable;
    // "snoop" and a NUL; what follows in the eight bytes does not matter.
    if (strncmp(reinterpret_cast<const char*>(file_header), "snoop", 8) != 0) {
        zelk_printf("Unknown snoop file format(wrong magic).\n");
        return trace_outcome::unreadable;
    }
    uint32_t version = trace_be32(file_header + 8);
    if (version < 2 || version > 5) {
        zelk_printf("Unknown snoop version %u.\n", version);
        return trace_outcome::unreadable;
    }
    uint32_t datalink_type = trace_be32(file_header + 12);

    unsigned long records = 0;
    for (;;) {
        if (capture.stop_signal) return trace_outcome::stopped;
        if (trace_at_end()) {
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
        ++capture.frame_counter;
        // A record cut short by the end of the file is decoded as far as it was read.
        uint32_t captured = got < included_length ? static_cast<uint32_t>(got) : included_length;
        capture.captured_bytes += captured;
        begin_frame(static_cast<long>(trace_be32(header + 16)), trace_be32(header + 20), captured, untruncated_length);
        uint32_t stamp = trace_be32(header + 16);
        const char* time_text = frame_time_text(stamp, trace_be32(header + 20) % 1000000);
        uint32_t seconds = stamp % 86400;
        if (frame_time_is_time_of_day())
            zelk_printf("\n%02d:%02d:%02d - Read frame %lu(%u/%u bytes length)...\n", static_cast<int>(seconds / 3600),
                        static_cast<int>(seconds % 3600 / 60), static_cast<int>(seconds % 60), capture.frame_counter,
                        included_length, untruncated_length);
        else
            zelk_printf("\n%s - Read frame %lu(%u/%u bytes length)...\n", time_text, capture.frame_counter,
                        included_length, untruncated_length);
        frame_lengths lengths{captured, untruncated_length};
        decode_snoop_frame(datalink_type, &lengths, data);
        end_frame();
        free(data);
        check_frame_output();
        if (got < data_length) return trace_outcome::truncated;
        if (max_packets > 0 && records == static_cast<unsigned long>(max_packets)) {
            print_read_totals();
            zelk_printf("\nRead snoop dump file completed.\n");
            return trace_outcome::finished;
        }
    }
}

void read_snoop_file(int max_packets) {
    const char* path = settings.snoop_file;
    zelk_printf("Read packet(s) from file: %s.\n", path);
    if (!open_trace_file(path)) {
        // Unlike the iptrace reader, this one reports on the output stream.
        zelk_printf("Error: Can't open snoop file %s.\n", path);
        exit(1);
    }
    begin_capture();
    finish_trace_file(read_snoop(max_packets), "Error occured while Snoop file header reading.\n");
}
