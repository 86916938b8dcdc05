#include "capture/link_source.h"

#include <sys/time.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "capture/frame.h"
#include "capture/frame_time.h"
#include "capture/pcap_source.h"
#include "driver/run.h"
#include "driver/server.h"
#include "driver/settings.h"
#include "output/record.h"
#include "zelk.h"
#include "zelk_net.h"

void print_received_frame_line(uint32_t length) {
    timeval now{};
    if (gettimeofday(&now, nullptr) != 0) {
        zelk_fprintf(stderr, "Error: Can't get time.\n");
        now = timeval{};
    }
    const char* time_text = frame_time_text(now.tv_sec, static_cast<unsigned>(now.tv_usec));
    zelk_printf("\n%s - Received frame %lu(%u bytes length)...", time_text, capture.frame_counter, length);
    if (settings.statistic) {
        auto elapsed = static_cast<uint32_t>(time(nullptr) - start_time);
        if (elapsed != 0)
            zelk_printf(" Utilization: %.0f B/s", static_cast<double>(capture.byte_total / elapsed));
        else
            zelk_printf(" Utilization: n.a.");
    }
    zelk_printf("\n");
}

int run_link_layer_capture(const char* program_path, int promisc, int snaplen, int max_packets) {
    (void)program_path;
    zelk_check_root();
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
    zelk_printf("Receive packet(s) on device: %s\n", device);
    capture.link_type = handle->link_type;
    if (!link_type_lookup(handle->link_type, &capture.link_header_length, &capture.link_decoder_index)) {
        zelk_fprintf(stderr, "Error: Unknown device/datalink type");
        zelk_printf(".\n\n");
        exit(1);
    }
    // Whoever watches the output learns at once that the capture runs.
    fflush(stdout);
    zelk_set_stop_flag(&capture.stop_signal);
    zelk_read_link_layer(handle, snaplen, static_cast<unsigned>(max_packets), link_frame_handler);
    zelk_close_link_layer(handle);
    free(handle);
    return 0;
}

void link_frame_handler(const sockaddr* sender, const uint8_t* frame, int length) {
    (void)sender;
    auto received = static_cast<uint32_t>(length);
    ++capture.frame_counter;
    timeval now{};
    gettimeofday(&now, nullptr);
    begin_frame(now.tv_sec, static_cast<unsigned>(now.tv_usec), received, received);
    if (settings.beep_on) zelk_printf("%c", 7);
    capture.byte_total += received;
    print_received_frame_line(received);
    frame_lengths lengths{received, received};
    decode_frame(link_decoders[capture.link_decoder_index], &lengths, frame);
    print_raw_hex(frame, received);
    if (settings.server_addr) server_send_frame(frame, static_cast<uint16_t>(received));
    end_frame();
    fflush(stdout);
}
