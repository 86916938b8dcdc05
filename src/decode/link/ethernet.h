// Ethernet II, raw 802.3, 802.1Q tags and the EtherType dispatch.
#pragma once

#include <cstdint>

#include "capture/frame.h"

int decode_ethernet(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset);
// `offset` is that of the header behind the EtherType.
int decode_ethertype(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset,
                     uint16_t type);

// The table name of an EtherType, or nullptr.
const char* ethertype_name(uint16_t type);
// The same, with the names beyond the printed list (for the record).
const char* ethertype_record_name(uint16_t type);
void print_ethertype_name(decode_context& cx, uint16_t type);
void print_mac_vendor(decode_context& cx, const uint8_t* mac, const char* key = "vendor");

// A tunnelled Ethernet frame (EtherIP, VXLAN, Geneve, an MPLS pseudowire)
// decoded as a frame of its own: it begins at `inner`, its link header is
// the 14-byte Ethernet header, and its lengths are what the capture holds
// and what was sent from there on.
void decode_inner_ethernet(decode_context& cx, const uint8_t* inner);
// The lengths of the frame as `frame` sees it: what was captured and sent
// from `frame` on.
frame_lengths lengths_from(decode_context& cx, const uint8_t* frame);
