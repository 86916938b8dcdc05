// The ARP family: ARP, reverse, dynamic reverse and inverse ARP, ATM ARP
// and MARS share one layout.
#pragma once

#include <cstdint>

struct decode_context;

int decode_arp(decode_context& cx, const uint8_t* frame, unsigned offset);
