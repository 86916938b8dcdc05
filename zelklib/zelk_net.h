// zelklib: interface utilities, the raw link-layer socket and the Bluetooth
// HCI socket.
#pragma once

#include <sys/socket.h>

#include <csignal>
#include <cstdint>

// Interface and descriptor utilities. The auxiliary socket serves the
// interface ioctls.
extern int zelk_io_socket;
int zelk_open_io_socket();
int zelk_close_io_socket(int descriptor);
// Flips IFF_PROMISC: an interface that is already promiscuous is taken out
// of promiscuous mode. Returns 1, or -1 when the flags could not be read or set.
int zelk_toggle_promisc(const char* interface_name, int descriptor);
// The interface's 6-byte hardware address, in a buffer that the next call
// overwrites; nullptr on failure.
uint8_t* zelk_get_hw_info(const char* interface_name, int descriptor);
// Ends the program when the descriptor cannot be switched.
int zelk_set_nonblocking(int descriptor);

// The blocking read loops below return once *flag is non-zero. A signal
// handler sets it; the loops wake up at least a few times a second to look.
void zelk_set_stop_flag(const volatile sig_atomic_t* flag);
bool zelk_stop_requested();

// Raw link-layer socket.
struct zelk_link_layer {
    int fd;
    int link_type;  // libpcap DLT_ numbering
    int offset;     // 14 Ethernet-like, 2 Token Ring, 3 FDDI, else 0
    // Kernel counts since the open (received includes dropped) and the
    // frames handed to the handler.
    unsigned long received;
    unsigned long dropped;
    unsigned long delivered;
};
typedef void (*zelk_link_layer_handler)(const sockaddr* sender, const uint8_t* frame, int length);

// Opens a socket that receives every frame of the named interface; nullptr
// on failure (the cause is printed).
zelk_link_layer* zelk_open_link_layer(const char* interface_name);
int zelk_close_link_layer(zelk_link_layer* handle);
// The kernel's counts of frames received (dropped ones included) and
// dropped since the open.
void zelk_link_layer_statistics(zelk_link_layer* handle, unsigned long* received, unsigned long* dropped);
// Hands `count` frames of at most `length` bytes to the handler and returns
// 0; a count of 0 reads until a stop is requested, and then hands over
// the frames the kernel had already queued. A receive failure ends the
// program.
int zelk_read_link_layer(zelk_link_layer* handle, int length, unsigned count, zelk_link_layer_handler handler);
int zelk_write_link_layer(zelk_link_layer* handle, const char* interface_name, const uint8_t* frame, int length,
                          int repeat);

// Bluetooth HCI socket. The Linux kernel interface, declared here so that no
// Bluetooth user-space library is needed.
constexpr int zelk_af_bluetooth = 31;
constexpr int zelk_btproto_hci = 1;
constexpr int zelk_sol_hci = 0;
constexpr int zelk_hci_data_dir = 1;
constexpr int zelk_hci_filter_option = 2;
constexpr int zelk_hci_time_stamp = 3;
constexpr uint16_t zelk_hci_channel_raw = 0;

struct zelk_hci_filter {
    uint32_t type_mask;
    uint32_t event_mask[2];
    uint16_t opcode;
};
static_assert(sizeof(zelk_hci_filter) == 16);

struct zelk_sockaddr_hci {
    sa_family_t family;
    uint16_t device;
    uint16_t channel;
};

typedef void (*zelk_hci_handler)(const uint8_t* frame, int length);

void zelk_hci_filter_clear(zelk_hci_filter* filter);
void zelk_hci_filter_all_types(zelk_hci_filter* filter);
void zelk_hci_filter_all_events(zelk_hci_filter* filter);
// A raw socket bound to controller hciN that lets every packet through, or -1.
int zelk_open_bluetooth_socket(int device_number);
int zelk_close_bluetooth_socket(int descriptor);
// Hands every packet (cut to buffer_size bytes) to the handler until a stop
// is requested; a receive failure ends the program.
int zelk_read_bluetooth_socket(int descriptor, int buffer_size, zelk_hci_handler handler);
