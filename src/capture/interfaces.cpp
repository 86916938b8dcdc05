#include "capture/interfaces.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <sys/socket.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "zelk.h"

namespace {

// Leading one bits of a netmask; a mask with holes counts only its leading ones.
int prefix_length(const uint8_t* mask, size_t size) {
    int bits = 0;
    for (size_t i = 0; i < size; ++i) {
        for (int b = 7; b >= 0; --b) {
            if (!(mask[i] >> b & 1)) return bits;
            ++bits;
        }
    }
    return bits;
}

void print_address(const pcap_addr* a) {
    if (!a->addr) return;
    char text[INET6_ADDRSTRLEN] = "";
    int prefix = -1;
    if (a->addr->sa_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(a->addr);
        inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
        if (a->netmask && a->netmask->sa_family == AF_INET)
            prefix = prefix_length(
                reinterpret_cast<const uint8_t*>(&reinterpret_cast<const sockaddr_in*>(a->netmask)->sin_addr), 4);
    } else if (a->addr->sa_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(a->addr);
        inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
        if (a->netmask && a->netmask->sa_family == AF_INET6)
            prefix = prefix_length(reinterpret_cast<const sockaddr_in6*>(a->netmask)->sin6_addr.s6_addr, 16);
    } else {
        return;  // link-layer addresses: libpcap lists them on some systems only
    }
    if (prefix >= 0)
        zelk_printf("    %s/%d\n", text, prefix);
    else
        zelk_printf("    %s\n", text);
}

std::string flag_text(bpf_u_int32 flags) {
    std::string text;
    auto add = [&text](const char* word) {
        if (!text.empty()) text += ", ";
        text += word;
    };
    if (flags & PCAP_IF_UP) add("Up");
    if (flags & PCAP_IF_RUNNING) add("Running");
    if (flags & PCAP_IF_LOOPBACK) add("Loopback");
    if (flags & PCAP_IF_WIRELESS) add("Wireless");
    switch (flags & PCAP_IF_CONNECTION_STATUS) {
        case PCAP_IF_CONNECTION_STATUS_CONNECTED: add("Connected"); break;
        case PCAP_IF_CONNECTION_STATUS_DISCONNECTED: add("Disconnected"); break;
        default: break;
    }
    return text;
}

}  // namespace

int list_interfaces() {
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    pcap_if_t* devices = nullptr;
    if (pcap_findalldevs(&devices, errbuf) == -1) {
        zelk_fprintf(stderr, "Error: Can't list the devices, because: %s\n", errbuf);
        return 1;
    }
    unsigned number = 0;
    for (const pcap_if_t* d = devices; d; d = d->next) {
        zelk_printf("%u.%s", ++number, d->name);
        if (d->description) zelk_printf(" (%s)", d->description);
        std::string flags = flag_text(d->flags);
        zelk_printf(" [%s]", flags.empty() ? "none" : flags.c_str());
        zelk_printf("\n");
        for (const pcap_addr* a = d->addresses; a; a = a->next) print_address(a);
    }
    if (number == 0) zelk_fprintf(stderr, "No capture devices found (are you root?).\n");
    pcap_freealldevs(devices);
    return 0;
}
