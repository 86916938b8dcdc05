#include "decode/ip/tcp.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "decode/app/dispatch.h"
#include "decode/decoder.h"
#include "decode/ip/ipv4.h"
#include "decode/ip/pseudo_header.h"
#include "decode/routing/bgp.h"
#include "decode/routing/gsmp.h"
#include "decode/routing/msdp.h"
#include "driver/modules.h"

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
static tcp_stream_segment* tcp_stream_head;

enum : uint8_t { FIN = 0x01, SYN = 0x02, RST = 0x04, PSH = 0x08, ACK = 0x10, URG = 0x20 };

static void print_flags(uint8_t flags) {
    static const char* const short_names[] = {"F", "S", "R", "P", "A", "U", "E", "W"};
    static const char* const long_names[] = {"Fin ", "Syn ", "Reset ", "Push ", "Ack ", "Urgent ", "ECE ", "CWR "};
    if (recording()) {
        // The flag bits as a number, their names as a list.
        record_number("flags", flags);
        static const char* const keys[] = {"fin", "syn", "rst", "psh", "ack", "urg", "ece", "cwr"};
        for (int bit = 0; bit < 8; ++bit)
            if (flags & (1 << bit)) list_text("flags_name", keys[bit]);
        return;
    }
    zelk_printf("  Flag(s): ");
    for (int bit = 0; bit < 8; ++bit)
        if (flags & (1 << bit)) zelk_printf("%s", settings.verbose ? long_names[bit] : short_names[bit]);
}

static const char* option_text(const char* short_text, const char* long_text) {
    return settings.verbose ? long_text : short_text;
}

// Decodes the option at p and returns how far the cursor moves; 0 ends the
// walk (end of list, unknown kind, or a length that cannot move on).
static unsigned print_option(const uint8_t* p) {
    uint8_t kind = get_u8(p);
    list_number("options", kind);
    switch (kind) {
        case 0: zelk_printf("%s", option_text(" <EOL>", " <End of List>")); return 0;
        case 1: zelk_printf("%s", option_text(" <NOP>", " <No Operation>")); return 1;
        case 2: {
            uint16_t mss = get_be16(p + 2);
            record_number("mss", mss);
            zelk_printf("%s%u>", option_text(" <MSS ", " <Maximum Segment Size "), mss);
            return get_u8(p + 1);
        }
        case 3: {
            uint8_t scale = get_u8(p + 2);
            record_number("window_scale", scale);
            zelk_printf("%s%u>", option_text(" <WSopt ", " <Window Scale Factor "), scale);
            return get_u8(p + 1);
        }
        case 4: zelk_printf("%s", option_text(" <SAck ok>", " <Selective Ack ok>")); return 2;
        case 5:
            // The blocks follow; the length byte covers them.
            zelk_printf("%s", option_text(" <SAck>", " <Selective Ack>"));
            return get_u8(p + 1);
        case 6: zelk_printf(" <Echo>"); return 6;
        case 7: zelk_printf(" <Echo Reply>"); return 6;
        case 8: {
            uint32_t value = get_be32(p + 2), echo = get_be32(p + 6);
            record_number("tsval", value);
            record_number("tsecr", echo);
            zelk_printf("%sTSval=%u TSecr=%u>", option_text(" <TSopt ", " <Timestamp "), value, echo);
            return get_u8(p + 1);
        }
        case 9: zelk_printf(" <Partial Order Con. Perm.>"); return 2;
        case 10: zelk_printf(" <Partial Order Serv. Profile>"); return 3;
        case 11:
        case 12:
        case 13: {
            static const char* const forms[] = {"%u>", "New %u>", "Echo %u>"};
            uint32_t count = get_be32(p + 2);
            zelk_printf("%s", option_text(" <CC ", " <Connection Count "));
            zelk_printf(forms[kind - 11], count);
            return get_u8(p + 1);
        }
        case 14: {
            static const char* const names[] = {" (TCP)", " (8-Bit)", " (16-Bit)"};
            uint8_t type = get_u8(p + 2);
            zelk_printf(" <Alternate Checksum Req. Type %d", type);
            if (settings.verbose) zelk_printf("%s", dense_name(names, type, " (unknown)"));
            zelk_printf(">");
            return 3;
        }
        case 15: zelk_printf(" <Alternate Checksum Data>"); return 3;
        case 18: zelk_printf(" <Trailer Checksum Option>"); return 3;
        case 19: zelk_printf(" <MD5 signature>"); return 18;
        default: return 0;
    }
}

static void print_options(const uint8_t* options, unsigned length) {
    zelk_printf("  Options");
    if (verbose()) field("options_length", "(%u bytes)", length);
    zelk_printf(": [");
    unsigned cursor = 0;
    while (cursor < length) {
        unsigned advance = print_option(options + cursor);
        if (advance == 0) break;
        cursor += advance;
    }
    zelk_printf(" ]\n");
}

static void check_flags(uint8_t flags) {
    const char* error = nullptr;
    if ((flags & 0x3f) == 0x3f)
        error = "  Error: protocol error in flags(all set)\n";
    else if ((flags & (SYN | RST)) == (SYN | RST))
        error = "  Error: protocol error in flags(SYN & RST)\n";
    else if (flags == 0)
        error = "  Error: no flags set\n";
    if (error) {
        zelk_printf("%s", error);
        record_text("error", error + 9, strlen(error + 9) - 1);
        bump(counters.tcp_error);
    }
}

// Memory the collection holds, and payload bytes it had no room for.
static uint64_t tcp_stream_kept;
static uint64_t tcp_stream_not_kept;

static void collect_segment(const uint8_t* tcp, const uint8_t* payload, unsigned payload_length, int ip_version) {
    // Segments without payload add nothing to the printed stream.
    if (payload_length == 0) return;
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
    // Only a header of this very frame may be copied; behind IPv6 there is
    // none and the copy stays zero.
    const uint8_t* ip = tcp_stream_ip_header;
    if (ip_version == 4 && ip && in_frame(ip, 20)) {
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
    }
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
    memcpy(segment->payload(), payload, payload_length);
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
        for (unsigned i = 0; i < s->payload_length; ++i) text += isprint(s->payload()[i]) ? char(s->payload()[i]) : '.';
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

// Data segments go to the decoder of their port (first match), else to a
// loaded module.
static void hand_on_payload(const frame_lengths* lengths, const uint8_t* frame, unsigned payload_offset,
                            uint16_t source_port, uint16_t destination_port) {
    auto on_port = [&](uint16_t port) { return source_port == port || destination_port == port; };
    // A segment without payload (a pure ACK) carries no message: the
    // decoders would read a header that is not there.
    bool has_payload = ip_message_length(header_at(frame, payload_offset)) > 0;
    if (on_port(179)) {
        if (has_payload) decode_bgp(frame, payload_offset);
        return;
    }
    if (on_port(639)) {
        if (has_payload) decode_msdp(frame, payload_offset);
        return;
    }
    if (on_port(6068)) {
        if (has_payload) decode_gsmp(frame, payload_offset);
        return;
    }
    // Application decoders show what they find; modules still get the
    // payload.
    decode_tcp_application(lengths, frame, payload_offset, source_port, destination_port);
    if (modules_loaded()) offer_payload(header_at(frame, payload_offset), 2, 6, 6, source_port, destination_port);
}

int decode_tcp(const frame_lengths* lengths, const uint8_t* frame, unsigned offset, int ip_version) {
    const uint8_t* h = header_at(frame, offset);
    layer("tcp", "- TCP Header -");
    need(h, 20);
    uint16_t source_port = get_be16(h);
    uint16_t destination_port = get_be16(h + 2);
    unsigned header_length = (h[12] >> 4) * 4u;
    uint8_t flags = h[13];

    field("src_port", "\n  Src Port: %d", source_port);
    if (lookup_names()) print_name("src_port", zelk_service_name_cached(source_port, "tcp"));
    field("dst_port", ", Dst Port: %d", destination_port);
    if (lookup_names()) print_name("dst_port", zelk_service_name_cached(destination_port, "tcp"));
    field("seq", "\n  Seq.: %u", get_be32(h + 4));
    field("ack", "\n  Ack-Seq.: %u", get_be32(h + 8));
    field("data_offset", ", Data-Offset: %d\n", header_length);
    print_flags(flags);
    field("window", "\n  Win-Size: %d", get_be16(h + 14));
    field("urgent_pointer", ", Urg-Ptr: 0x%04x\n", get_be16(h + 18));
    uint16_t checksum = get_be16(h + 16);
    field("checksum", "  Checksum: 0x%04x", checksum);
    if (settings.calc_checksums)
        print_transport_checksum_verdict(h, 6, 16, checksum, counters.tcp_bad);
    else
        zelk_printf("\n");

    // A data offset below 5 has no options; its payload still starts
    // behind the fixed header.
    if (header_length > 20) print_options(h + 20, header_length - 20);
    check_flags(flags);

    bool carries_data = (flags & (PSH | ACK)) == (PSH | ACK) || flags == ACK;
    if (header_length < 20) header_length = 20;
    unsigned payload_offset = offset + header_length;
    const uint8_t* payload = h + header_length;
    size_t before = static_cast<size_t>(payload - frame);
    size_t wire_rest = lengths->wire_length > before ? lengths->wire_length - before : 0;
    unsigned payload_length = static_cast<unsigned>(captured_from(payload, wire_rest));
    // The segment's own payload, without link-layer padding.
    if (recording()) record_number("payload_length", static_cast<long long>(ip_message_length(payload)));

    if (settings.print_tcp_stream && carries_data)
        collect_segment(h, payload, payload_length < 0xffff ? payload_length : 0xffff, ip_version);
    if (carries_data) hand_on_payload(lengths, frame, payload_offset, source_port, destination_port);
    if (settings.print_tcp_hex && !settings.print_tcp_text) hex_dump(payload, payload_length);
    if (settings.print_tcp_text && !settings.print_tcp_hex) text_dump(payload, payload_length);
    bump(counters.tcp);
    return 0;
}
