#include "output/tcp_stream.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "decode/decoder.h"
#include "driver/settings.h"
#include "zelk.h"

namespace {

// One collected segment. The payload follows the record in the same block,
// allocated to its length, so memory grows with the bytes collected.
struct tcp_stream_segment {
    tcp_stream_segment* next;  // the segment collected before this one
    // The IPv4 header fields, bytes as on the wire.
    uint8_t ip_version_length;
    uint8_t ip_tos;
    uint16_t ip_total_length;
    uint16_t ip_identification;
    uint16_t ip_fragment;
    uint8_t ip_ttl;
    uint8_t ip_protocol;
    uint16_t ip_checksum;
    uint32_t ip_source;
    uint32_t ip_destination;
    // The fixed TCP header, bytes as on the wire.
    uint16_t source_port;
    uint16_t destination_port;
    uint32_t sequence;
    uint32_t acknowledgement;
    uint8_t data_offset;
    uint8_t flags;
    uint16_t window;
    uint16_t checksum;
    uint16_t urgent_pointer;
    uint16_t payload_length;
    uint8_t* payload() { return reinterpret_cast<uint8_t*>(this + 1); }
};

// Newest first.
tcp_stream_segment* tcp_stream_head;

// Memory the collection holds, and payload bytes it had no room for.
uint64_t tcp_stream_kept;
uint64_t tcp_stream_not_kept;

}  // namespace

void collect_tcp_stream_piece(const tcp_stream_piece& piece) {
    auto payload_length = static_cast<unsigned>(piece.payload.size());
    uint64_t limit = settings.tcp_stream_limit;
    if (limit) {
        uint64_t room = tcp_stream_kept + sizeof(tcp_stream_segment) < limit
                            ? limit - tcp_stream_kept - sizeof(tcp_stream_segment)
                            : 0;
        if (room < payload_length) {
            tcp_stream_not_kept += payload_length - room;
            payload_length = static_cast<unsigned>(room);
            if (payload_length == 0) return;
        }
    }
    tcp_stream_kept += sizeof(tcp_stream_segment) + payload_length;
    auto* segment = static_cast<tcp_stream_segment*>(calloc(1, sizeof(tcp_stream_segment) + payload_length));
    if (!segment) {
        zelk_fprintf(stderr, "Error while allocation memory for new module.\n");
        return;
    }
    const uint8_t* ip = piece.ip_header;
    segment->ip_version_length = ip[0];
    segment->ip_tos = ip[1];
    memcpy(&segment->ip_total_length, ip + 2, 2);
    memcpy(&segment->ip_identification, ip + 4, 2);
    memcpy(&segment->ip_fragment, ip + 6, 2);
    segment->ip_ttl = ip[8];
    segment->ip_protocol = ip[9];
    memcpy(&segment->ip_checksum, ip + 10, 2);
    memcpy(&segment->ip_source, ip + 12, 4);
    memcpy(&segment->ip_destination, ip + 16, 4);
    const uint8_t* tcp = piece.tcp_header;
    memcpy(&segment->source_port, tcp, 2);
    memcpy(&segment->destination_port, tcp + 2, 2);
    memcpy(&segment->sequence, tcp + 4, 4);
    memcpy(&segment->acknowledgement, tcp + 8, 4);
    segment->data_offset = tcp[12];
    segment->flags = tcp[13];
    memcpy(&segment->window, tcp + 14, 2);
    memcpy(&segment->checksum, tcp + 16, 2);
    memcpy(&segment->urgent_pointer, tcp + 18, 2);
    segment->payload_length = static_cast<uint16_t>(payload_length);
    memcpy(segment->payload(), piece.payload.data(), payload_length);
    segment->next = tcp_stream_head;
    tcp_stream_head = segment;
}

void print_collected_payload() {
    // Reverse the list once so that the oldest segment comes first.
    tcp_stream_segment* oldest_first = nullptr;
    while (tcp_stream_head) {
        tcp_stream_segment* segment = tcp_stream_head;
        tcp_stream_head = segment->next;
        segment->next = oldest_first;
        oldest_first = segment;
    }
    zelk_printf("\nCollected Payload: \"");
    std::string text;
    for (tcp_stream_segment* s = oldest_first; s; s = s->next) {
        text.clear();
        for (unsigned i = 0; i < s->payload_length; ++i) text += printable_byte(s->payload()[i]) ? char(s->payload()[i]) : '.';
        zelk_printf("%.*s", static_cast<int>(text.size()), text.data());
    }
    zelk_printf("\"\n");
    if (tcp_stream_not_kept)
        zelk_printf("Note: %llu bytes of TCP payload were not kept (--tcp-stream-limit %llu).\n",
                    static_cast<unsigned long long>(tcp_stream_not_kept),
                    static_cast<unsigned long long>(settings.tcp_stream_limit));
    // Put the list back, newest first, in case it is printed again.
    while (oldest_first) {
        tcp_stream_segment* segment = oldest_first;
        oldest_first = segment->next;
        segment->next = tcp_stream_head;
        tcp_stream_head = segment;
    }
}
