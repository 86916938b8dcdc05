#include <fcntl.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "zelk.h"
#include "zelk_net.h"

int zelk_io_socket = -1;

namespace {
ifreq promisc_request;
ifreq hw_request;
uint8_t hw_address[6];

// The kernel reads at most IFNAMSIZ - 1 characters of a name; keep the
// field terminated.
void set_name(ifreq* request, const char* interface_name) {
    strncpy(request->ifr_name, interface_name, IFNAMSIZ - 1);
    request->ifr_name[IFNAMSIZ - 1] = '\0';
}
}  // namespace

int zelk_open_io_socket() {
    zelk_io_socket = socket(AF_INET, SOCK_DGRAM, 0);
    if (zelk_io_socket < 0) fprintf(stderr, "Error: %s\n", "zelk_open_io_socket: create socket failed!");
    return zelk_io_socket;
}

int zelk_close_io_socket(int descriptor) {
    if (close(descriptor) < 0) {
        fprintf(stderr, "Error: %s\n", "zelk_close_io_socket: socket closing failed!");
        return -1;
    }
    return 1;
}

int zelk_toggle_promisc(const char* interface_name, int descriptor) {
    set_name(&promisc_request, interface_name);
    if (ioctl(descriptor, SIOCGIFFLAGS, &promisc_request) < 0) {
        fprintf(stderr, "Error: %s\n", "zelk_toggle_promisc - set_promisc: get ioctl(SIOCGIFFLAGS) failed!");
        return -1;
    }
    if (promisc_request.ifr_flags & IFF_PROMISC) {
        zelk_info("zelk_toggle_promisc - promisc mode set - unsetting it!");
        promisc_request.ifr_flags &= ~IFF_PROMISC;
    } else {
        zelk_info("zelk_toggle_promisc - promisc mode not set - setting it!");
        promisc_request.ifr_flags |= IFF_PROMISC;
    }
    if (ioctl(descriptor, SIOCSIFFLAGS, &promisc_request) < 0) {
        fprintf(stderr, "Error: %s\n", "zelk_toggle_promisc - set_promisc: set ioctl(SIOCGIFFLAGS) failed!");
        return -1;
    }
    return 1;
}

uint8_t* zelk_get_hw_info(const char* interface_name, int descriptor) {
    memset(&hw_request, 0, sizeof hw_request);
    set_name(&hw_request, interface_name);
    if (ioctl(descriptor, SIOCGIFHWADDR, &hw_request) < 0) {
        fprintf(stderr, "Error: %s\n", "zelk_get_hw_info: ioctl(SIOCGIFHWADDR) failed!");
        return nullptr;
    }
    memcpy(hw_address, hw_request.ifr_hwaddr.sa_data, sizeof hw_address);
    return hw_address;
}

int zelk_set_nonblocking(int descriptor) {
    int flags = fcntl(descriptor, F_GETFL, 0);
    if (flags < 0) {
        fprintf(stderr, "Error while fetching fcntl(F_GETFL)!\n");
        exit(1);
    }
    int result = fcntl(descriptor, F_SETFL, flags | O_NONBLOCK);
    if (result < 0) {
        fprintf(stderr, "Error while setting fcntl(F_SETFL)!\n");
        exit(1);
    }
    return result;
}
