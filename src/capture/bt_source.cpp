#include "capture/bt_source.h"

#include <sys/time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "capture/frame.h"
#include "capture/link_source.h"
#include "decode/decoder.h"
#include "decode/fields.h"
#include "driver/run.h"
#include "driver/server.h"
#include "driver/settings.h"
#include "output/record.h"
#include "pipeline/frame_loop.h"
#include "zelk.h"
#include "zelk_net.h"

namespace {
int hci_socket = -1;
constexpr int hci_buffer_size = 1024;
constexpr unsigned hci_bytes_per_line = 20;
}  // namespace

int run_bluetooth_capture(const char* program_path, int device_number) {
    (void)program_path;
    zelk_check_capture_privilege(false);
    if (capture.stop_signal) return 0;
    hci_socket = zelk_open_bluetooth_socket(device_number);
    if (hci_socket == -1) exit(1);
    zelk_printf("Receive packet(s) on device: hci%d\n", device_number);
    capture.link_type = 187;  // Bluetooth HCI H4
    begin_capture();
    zelk_flush(stdout);
    zelk_set_stop_flag(&capture.stop_signal);
    zelk_read_bluetooth_socket(hci_socket, hci_buffer_size, hci_frame_handler);
    return 0;
}

namespace {

// The first byte is the HCI packet type; the dump shows every byte after it.
int decode_hci(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned) {
    uint32_t received = lengths->captured_length;
    layer(cx, "hci", "\n- HCI Frame -");
    if (received > 0) record_hex(cx, "data_hex", frame + 1, received - 1);
    unsigned line = 0;
    for (uint32_t i = 1; i < received; ++i) {
        if ((i - 1) % hci_bytes_per_line == 0) zelk_printf(cx.out, "\n0x%04x:", ++line);
        zelk_printf(cx.out, "%02x", frame[i]);
    }
    zelk_printf(cx.out, "\n");
    return 0;
}

}  // namespace

void hci_frame_handler(const uint8_t* frame, int length) {
    auto received = static_cast<uint32_t>(length > 0 ? length : 0);
    timeval now{};
    gettimeofday(&now, nullptr);
    captured_frame f{};
    f.bytes = frame;
    f.lengths = frame_lengths{received, received};
    f.seconds = now.tv_sec;
    f.microseconds = static_cast<unsigned>(now.tv_usec);
    f.line = frame_line_kind::received_length;
    f.decoder = decode_hci;
    f.link_type = capture.link_type;
    f.skip_raw_hex = true;
    frame_loop_handle(f);
}

void close_bluetooth_capture() {
    if (hci_socket < 0) return;
    zelk_close_bluetooth_socket(hci_socket);
    hci_socket = -1;
}
