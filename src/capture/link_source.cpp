#include "capture/link_source.h"

#include <sys/time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "capture/frame.h"
#include "capture/frame_time.h"
#include "capture/status_lines.h"
#include "capture/pcap_source.h"
#include "capture/raw_log.h"
#include "driver/run.h"
#include "driver/server.h"
#include "driver/settings.h"
#include "output/record.h"
#include "pipeline/frame_loop.h"
#include "zelk.h"
#include "zelk_net.h"

namespace {

zelk_link_layer* link_handle;
// Gives the raw log its link type and snap length.
pcap_t* raw_log_template;

}  // namespace

int run_link_layer_capture(const char* program_path, int promisc, int snaplen, int max_packets) {
    (void)program_path;
    zelk_check_capture_privilege(promisc == 1);
    if (capture.stop_signal) return 0;
    const char* device = settings.device;
    if (promisc == 1) {
        // Flipped, not set, and left so at the end of the run.
        int io_socket = zelk_open_io_socket();
        if (io_socket >= 0) {
            zelk_toggle_promisc(device, io_socket);
            zelk_close_io_socket(io_socket);
        }
    }
    zelk_link_layer* handle = zelk_open_link_layer(device);
    if (!handle) exit(1);
    {
        status_lines startup;
        zelk_printf("Receive packet(s) on device: %s\n", device);
    }
    capture.link_type = handle->link_type;
    if (!link_type_lookup(handle->link_type, &capture.link_header_length, &capture.link_decoder_index)) {
        zelk_fprintf(stderr, "Error: Unknown device/datalink type %d\n", handle->link_type);
        zelk_printf(".\n\n");
        exit(1);
    }
    if (settings.logfile_raw) {
        int length = snaplen > 0 && snaplen < 65536 ? snaplen : 65536;
        raw_log_template = pcap_open_dead(handle->link_type, length);
        char errbuf[PCAP_ERRBUF_SIZE] = "";
        if (!raw_log_template || !open_raw_log(raw_log_template, settings.logfile_raw, errbuf)) {
            zelk_fprintf(stderr, "Error: Can't open(pcap_dump_open) logfile, because: %s\n", errbuf);
            exit(1);
        }
    }
    link_handle = handle;
    begin_capture();
    // Whoever watches the output learns at once that the capture runs.
    zelk_flush(stdout);
    zelk_set_stop_flag(&capture.stop_signal);
    zelk_read_link_layer(handle, snaplen, static_cast<unsigned>(max_packets), link_frame_handler);
    return 0;
}

void link_frame_handler(const sockaddr* sender, const uint8_t* frame, int length) {
    (void)sender;
    auto received = static_cast<uint32_t>(length);
    timeval now{};
    if (gettimeofday(&now, nullptr) != 0) {
        zelk_fprintf(stderr, "Error: Can't get time.\n");
        now = timeval{};
    }
    captured_frame f{};
    f.bytes = frame;
    f.lengths = frame_lengths{received, received};
    f.seconds = now.tv_sec;
    f.microseconds = static_cast<unsigned>(now.tv_usec);
    f.line = frame_line_kind::received_length;
    f.decoder = link_decoders[capture.link_decoder_index];
    f.link_header_length = capture.link_header_length;
    f.link_type = capture.link_type;
    f.raw_log = capture.raw_log_dumper != nullptr;
    f.raw_log_header.ts = now;
    f.raw_log_header.caplen = f.raw_log_header.len = received;
    frame_loop_handle(f);
}

void link_capture_summary() {
    if (!link_handle) return;
    // After a stop the counts are those the drain worked to; frames
    // counted later were never read.
    unsigned long received = link_handle->received, dropped = link_handle->dropped;
    if (!capture.stop_signal) zelk_link_layer_statistics(link_handle, &received, &dropped);
    live_counts = {true, received, dropped, 0};
    zelk_printf("\nReceived %lu packets", received);
    if (settings.count) zelk_printf("(%lu bytes)", static_cast<unsigned long>(capture.byte_total));
    zelk_printf(", %lu dropped by kernel.\n", dropped);
    zelk_close_link_layer(link_handle);
    free(link_handle);
    link_handle = nullptr;
    if (raw_log_template) {
        close_raw_log();
        pcap_close(raw_log_template);
        raw_log_template = nullptr;
    }
}
