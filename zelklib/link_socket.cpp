#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "zelk.h"
#include "zelk_net.h"

namespace {

const volatile sig_atomic_t* stop_flag = nullptr;

constexpr size_t receive_buffer_size = 65536;
uint8_t receive_buffer[receive_buffer_size];

struct hardware_row {
    int hardware_type;  // ARPHRD_
    int link_type;      // DLT_
    int offset;
};

const hardware_row hardware_table[] = {
    {ARPHRD_ETHER, 1, 14},
    {ARPHRD_METRICOM, 1, 14},
    {ARPHRD_LOOPBACK, 1, 14},
    {ARPHRD_EETHER, 2, 0},
    {ARPHRD_AX25, 3, 0},
    {ARPHRD_PRONET, 4, 0},
    {ARPHRD_CHAOS, 5, 0},
    {ARPHRD_IEEE802, 6, 2},
    {ARPHRD_IEEE802_TR, 6, 2},
    {ARPHRD_ARCNET, 7, 0},
    {ARPHRD_ATM, 113, 0},
    {ARPHRD_SLIP, 12, 0},
    {ARPHRD_CSLIP, 12, 0},
    {ARPHRD_SLIP6, 12, 0},
    {ARPHRD_CSLIP6, 12, 0},
    {ARPHRD_ADAPT, 12, 0},
    {ARPHRD_PPP, 12, 0},
    {ARPHRD_CISCO, 104, 0},
    {ARPHRD_DLCI, 12, 0},
    {ARPHRD_TUNNEL, 12, 0},
    {ARPHRD_LOCALTLK, 114, 0},
    {ARPHRD_FDDI, 10, 3},
    {ARPHRD_SIT, 12, 0},
    {ARPHRD_IEEE80211, 105, 0},
    {ARPHRD_IEEE80211_PRISM, 119, 0},
};

// The address these sockets take: the interface by its index.
sockaddr_ll device_address(const char* interface_name) {
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_protocol = htons(ETH_P_ALL);
    address.sll_ifindex = static_cast<int>(if_nametoindex(interface_name));
    return address;
}

// Adds what the kernel counted since the last call (it resets its counts
// when asked).
void add_statistics(zelk_link_layer* handle) {
    tpacket_stats stats{};
    socklen_t length = sizeof stats;
    if (getsockopt(handle->fd, SOL_PACKET, PACKET_STATISTICS, &stats, &length) != 0) return;
    // The kernel's packet count includes the dropped ones.
    handle->received += stats.tp_packets;
    handle->dropped += stats.tp_drops;
}

void open_failed(zelk_link_layer* handle) {
    if (handle->fd >= 0) close(handle->fd);
    free(handle);
}

}  // namespace

void zelk_set_stop_flag(const volatile sig_atomic_t* flag) { stop_flag = flag; }

bool zelk_stop_requested() { return stop_flag && *stop_flag; }

zelk_link_layer* zelk_open_link_layer(const char* interface_name) {
    auto* handle = static_cast<zelk_link_layer*>(zelk_xmalloc(sizeof(zelk_link_layer)));
    memset(handle, 0, sizeof *handle);

    // Protocol 0 receives nothing until the bind names the interface, so
    // that no frame of another link is ever counted or read.
    handle->fd = socket(AF_PACKET, SOCK_RAW, 0);
    if (handle->fd < 0) {
        fprintf(stderr, "Error: %s\n", "zelk_link_layer/sockpacket: socket failed!");
        open_failed(handle);
        return nullptr;
    }

    ifreq request{};
    strncpy(request.ifr_name, interface_name, IFNAMSIZ - 1);
    if (ioctl(handle->fd, SIOCGIFHWADDR, &request) < 0) {
        fprintf(stderr, "Error: %s\n", "zelk_link_layer/sockpacket: ioctl failed!");
        open_failed(handle);
        return nullptr;
    }
    const hardware_row* row = nullptr;
    for (const auto& r : hardware_table)
        if (r.hardware_type == request.ifr_hwaddr.sa_family) row = &r;
    if (!row) {
        zelk_info("zelk_link_layer/sockpacket: unknown physical layer type!");
        open_failed(handle);
        return nullptr;
    }
    handle->link_type = row->link_type;
    handle->offset = row->offset;

    sockaddr_ll device = device_address(interface_name);
    if (device.sll_ifindex == 0 || bind(handle->fd, reinterpret_cast<const sockaddr*>(&device), sizeof device) < 0) {
        fprintf(stderr, "Error: %s\n", "zelk_link_layer/sockpacket: bind failed!");
        open_failed(handle);
        return nullptr;
    }
    // Room for a burst while a frame is being decoded.
    int buffer_size = 8 << 20;
    if (setsockopt(handle->fd, SOL_SOCKET, SO_RCVBUFFORCE, &buffer_size, sizeof buffer_size) != 0)
        setsockopt(handle->fd, SOL_SOCKET, SO_RCVBUF, &buffer_size, sizeof buffer_size);
    add_statistics(handle);
    handle->received = handle->dropped = handle->delivered = 0;
    return handle;
}

void zelk_link_layer_statistics(zelk_link_layer* handle, unsigned long* received, unsigned long* dropped) {
    add_statistics(handle);
    *received = handle->received;
    *dropped = handle->dropped;
}

int zelk_close_link_layer(zelk_link_layer* handle) { return close(handle->fd) < 0 ? -1 : 0; }

int zelk_read_link_layer(zelk_link_layer* handle, int length, unsigned count, zelk_link_layer_handler handler) {
    size_t receive_length = length > 0 && static_cast<size_t>(length) < receive_buffer_size
                                ? static_cast<size_t>(length)
                                : receive_buffer_size;
    // Signal handlers are installed with restarting semantics, which would
    // resume a blocked receive forever; a receive timeout lets the loop see
    // a stop request.
    timeval wake_up{0, 250000};
    setsockopt(handle->fd, SOL_SOCKET, SO_RCVTIMEO, &wake_up, sizeof wake_up);

    sockaddr_ll sender{};
    // A stop request first hands over every frame the kernel already
    // counted as received and not dropped; frames that came later are left.
    unsigned long drain_target = 0;
    bool draining = false;
    for (unsigned received = 0; count == 0 || received < count;) {
        if (!draining && zelk_stop_requested()) {
            add_statistics(handle);
            drain_target = handle->received - handle->dropped;
            draining = true;
        }
        if (draining && handle->delivered >= drain_target) return 0;
        // The kernel reports a sender address longer than the record and
        // writes that length back: set it again for every receive.
        socklen_t sender_length = sizeof sender;
        ssize_t got = recvfrom(handle->fd, receive_buffer, receive_length, draining ? MSG_DONTWAIT : 0,
                               reinterpret_cast<sockaddr*>(&sender), &sender_length);
        if (got < 0) {
            if (draining && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                pollfd p{handle->fd, POLLIN, 0};
                if (poll(&p, 1, 500) <= 0) return 0;
                continue;
            }
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
            zelk_info(count == 0 ? "zelk_read_link_layer: recv(loop) failed!"
                                             : "zelk_read_link_layer: recv(special count) failed!");
            zelk_close_link_layer(handle);
            exit(1);
        }
        ++handle->delivered;
        handler(reinterpret_cast<const sockaddr*>(&sender), receive_buffer, static_cast<int>(got));
        ++received;
    }
    return 0;
}

int zelk_write_link_layer(zelk_link_layer* handle, const char* interface_name, const uint8_t* frame, int length,
                          int repeat) {
    sockaddr_ll device = device_address(interface_name);
    int result = 0;
    for (int i = 0; i < repeat; ++i) {
        result = static_cast<int>(sendto(handle->fd, frame, static_cast<size_t>(length), 0,
                                         reinterpret_cast<const sockaddr*>(&device), sizeof device));
        if (result != length) zelk_info("zelk_write_link_layer: sendto failed!");
    }
    return result;
}
