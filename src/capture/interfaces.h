// --list-interfaces: the capture devices libpcap finds.
#pragma once

// Prints one line per device (number, name, description, flags) and its
// addresses below it; returns 0, or 1 when libpcap cannot list them.
int list_interfaces();
