// The ARP family: ARP, reverse, dynamic reverse and inverse ARP, ATM ARP
// and MARS share one layout.
#pragma once

#include <cstdint>

int decode_arp(const uint8_t* frame, unsigned offset);
