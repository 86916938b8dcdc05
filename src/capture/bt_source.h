// Live capture from a Bluetooth HCI controller: every packet as a hex dump.
#pragma once

#include <cstdint>

int run_bluetooth_capture(const char* program_path, int device_number);
void hci_frame_handler(const uint8_t* frame, int length);
// Closes the HCI socket at the end of a run, if one is open.
void close_bluetooth_capture();
