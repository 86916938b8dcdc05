#include <cstring>

#include "zelk.h"

zelk_pseudo_header_record zelk_pseudo_header;

int zelk_in_cksum(const void* buffer, int length, int start_sum) {
    const uint8_t* p = static_cast<const uint8_t*>(buffer);
    // Widened so that long regions cannot overflow; the folded result is
    // the same as with a 32-bit running sum.
    uint64_t sum = static_cast<uint32_t>(start_sum);
    while (length > 1) {
        uint16_t word;
        memcpy(&word, p, 2);
        sum += word;
        p += 2;
        length -= 2;
    }
    if (length == 1) {
        uint8_t pad[2] = {p[0], 0};
        uint16_t word;
        memcpy(&word, pad, 2);
        sum += word;
    }
    while (sum >> 16) sum = (sum >> 16) + (sum & 0xffff);
    return static_cast<uint16_t>(~sum);
}

static int pseudo_checksum(const void* segment, uint8_t protocol) {
    zelk_pseudo_header.zero = 0;
    zelk_pseudo_header.protocol = protocol;
    uint16_t words[6];
    memcpy(words, &zelk_pseudo_header, sizeof words);
    int sum = 0;
    for (uint16_t w : words) sum += w;
    return zelk_in_cksum(segment, zelk_ntohs(zelk_pseudo_header.length), sum);
}

int zelk_tcp_checksum(const void* segment) { return pseudo_checksum(segment, 6); }

int zelk_udp_checksum(const void* datagram) { return pseudo_checksum(datagram, 17); }

int zelk_checksum(uint8_t* packet, int protocol, int length) {
    int offset;
    bool pseudo = false;
    switch (protocol) {
        case 2: offset = 2; break;
        case 6: offset = 16; pseudo = true; break;
        case 8: offset = 4; break;
        case 9: offset = 10; break;
        case 17: offset = 6; pseudo = true; break;
        case 28: offset = 6; break;
        case 54: offset = 2; break;
        case 88: offset = 2; break;
        case 101: offset = 2; break;
        case 103: offset = 2; break;
        default:
            fprintf(stderr, "Error: %s\n", "zelk_checksum: Unknown transport layer protocol!");
            return -1;
    }
    uint8_t* transport = packet + (packet[0] & 0x0f) * 4;
    memset(transport + offset, 0, 2);
    int start = 0;
    if (pseudo) {
        uint16_t words[4];
        memcpy(words, packet + 12, sizeof words);
        for (uint16_t w : words) start += w;
        start += zelk_htons(static_cast<uint16_t>(length + protocol));
    }
    uint16_t sum = static_cast<uint16_t>(zelk_in_cksum(transport, length, start));
    memcpy(transport + offset, &sum, 2);
    return 1;
}
