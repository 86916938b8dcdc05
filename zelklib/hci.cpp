#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "zelk.h"
#include "zelk_net.h"

void zelk_hci_filter_clear(zelk_hci_filter* filter) { memset(filter, 0, sizeof *filter); }

void zelk_hci_filter_all_types(zelk_hci_filter* filter) { filter->type_mask = 0xffffffffu; }

void zelk_hci_filter_all_events(zelk_hci_filter* filter) {
    filter->event_mask[0] = 0xffffffffu;
    filter->event_mask[1] = 0xffffffffu;
}

int zelk_open_bluetooth_socket(int device_number) {
    int fd = socket(zelk_af_bluetooth, SOCK_RAW, zelk_btproto_hci);
    if (fd < 0) {
        fprintf(stderr, "Error: %s\n", "zelk_open_bluetooth_socket: socket failed!");
        return -1;
    }
    const char* failure = nullptr;
    int on = 1;
    zelk_hci_filter filter;
    zelk_hci_filter_clear(&filter);
    zelk_hci_filter_all_types(&filter);
    zelk_hci_filter_all_events(&filter);
    zelk_sockaddr_hci address{};
    address.family = zelk_af_bluetooth;
    address.device = static_cast<uint16_t>(device_number);
    address.channel = zelk_hci_channel_raw;
    if (setsockopt(fd, zelk_sol_hci, zelk_hci_data_dir, &on, sizeof on) < 0)
        failure = "zelk_open_bluetooth_socket: setsockopt(1) failed!";
    else if (setsockopt(fd, zelk_sol_hci, zelk_hci_time_stamp, &on, sizeof on) < 0)
        failure = "zelk_open_bluetooth_socket: setsockopt(2) failed!";
    else if (setsockopt(fd, zelk_sol_hci, zelk_hci_filter_option, &filter, sizeof filter) < 0)
        failure = "zelk_open_bluetooth_socket: setsockopt(3) failed!";
    else if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0)
        failure = "zelk_open_bluetooth_socket: bind failed!\n";
    if (failure) {
        fprintf(stderr, "Error: %s\n", failure);
        close(fd);
        return -1;
    }
    return fd;
}

int zelk_close_bluetooth_socket(int descriptor) { return close(descriptor) < 0 ? -1 : 0; }

int zelk_read_bluetooth_socket(int descriptor, int buffer_size, zelk_hci_handler handler) {
    size_t data_size = buffer_size > 0 ? static_cast<size_t>(buffer_size) : 1;
    auto* data = static_cast<uint8_t*>(zelk_xmalloc(data_size));
    constexpr size_t control_size = 100;
    auto* control = static_cast<uint8_t*>(zelk_xmalloc(control_size));
    // Restarting signal handlers would resume a blocked receive forever; the
    // timeout lets the loop see a stop request.
    timeval wake_up{0, 250000};
    setsockopt(descriptor, SOL_SOCKET, SO_RCVTIMEO, &wake_up, sizeof wake_up);

    while (!zelk_stop_requested()) {
        iovec vector{data, data_size};
        msghdr message{};
        message.msg_iov = &vector;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = control_size;
        ssize_t got = recvmsg(descriptor, &message, 0);
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
            zelk_info("zelk_read_bluetooth_socket: recvfrom failed");
            zelk_close_bluetooth_socket(descriptor);
            exit(1);
        }
        handler(data, static_cast<int>(got));
    }
    free(control);
    free(data);
    return 0;
}
