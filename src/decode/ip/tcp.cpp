#include "decode/ip/tcp.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "decode/app/dispatch.h"
#include "decode/decoder.h"
#include "decode/ip/ipv4.h"
#include "decode/ip/pseudo_header.h"
#include "decode/reassembly/reassembly.h"
#include "decode/routing/bgp.h"
#include "decode/routing/gsmp.h"
#include "decode/routing/msdp.h"
#include "driver/modules.h"
#include "stats/views.h"

enum : uint8_t { FIN = 0x01, SYN = 0x02, RST = 0x04, PSH = 0x08, ACK = 0x10, URG = 0x20 };

static void print_flags(decode_context& cx, uint8_t flags) {
    static const char* const short_names[] = {"F", "S", "R", "P", "A", "U", "E", "W"};
    static const char* const long_names[] = {"Fin ", "Syn ", "Reset ", "Push ", "Ack ", "Urgent ", "ECE ", "CWR "};
    if (recording()) {
        // The flag bits as a number, their names as a list.
        record_number(cx, "flags", flags);
        static const char* const keys[] = {"fin", "syn", "rst", "psh", "ack", "urg", "ece", "cwr"};
        for (int bit = 0; bit < 8; ++bit)
            if (flags & (1 << bit)) list_text(cx, "flags_name", keys[bit]);
        return;
    }
    zelk_printf(cx.out, "  Flag(s): ");
    for (int bit = 0; bit < 8; ++bit)
        if (flags & (1 << bit)) zelk_printf(cx.out, "%s", settings.verbose ? long_names[bit] : short_names[bit]);
}

static const char* option_text(const char* short_text, const char* long_text) {
    return settings.verbose ? long_text : short_text;
}

// Decodes the option at p and returns how far the cursor moves; 0 ends the
// walk (end of list, unknown kind, or a length that cannot move on).
static unsigned print_option(decode_context& cx, const uint8_t* p) {
    uint8_t kind = get_u8(cx, p);
    list_number(cx, "options", kind);
    switch (kind) {
        case 0: zelk_printf(cx.out, "%s", option_text(" <EOL>", " <End of List>")); return 0;
        case 1: zelk_printf(cx.out, "%s", option_text(" <NOP>", " <No Operation>")); return 1;
        case 2: {
            uint16_t mss = get_be16(cx, p + 2);
            record_number(cx, "mss", mss);
            zelk_printf(cx.out, "%s%u>", option_text(" <MSS ", " <Maximum Segment Size "), mss);
            return get_u8(cx, p + 1);
        }
        case 3: {
            uint8_t scale = get_u8(cx, p + 2);
            record_number(cx, "window_scale", scale);
            zelk_printf(cx.out, "%s%u>", option_text(" <WSopt ", " <Window Scale Factor "), scale);
            return get_u8(cx, p + 1);
        }
        case 4: zelk_printf(cx.out, "%s", option_text(" <SAck ok>", " <Selective Ack ok>")); return 2;
        case 5:
            // The blocks follow; the length byte covers them.
            zelk_printf(cx.out, "%s", option_text(" <SAck>", " <Selective Ack>"));
            return get_u8(cx, p + 1);
        case 6: zelk_printf(cx.out, " <Echo>"); return 6;
        case 7: zelk_printf(cx.out, " <Echo Reply>"); return 6;
        case 8: {
            uint32_t value = get_be32(cx, p + 2), echo = get_be32(cx, p + 6);
            record_number(cx, "tsval", value);
            record_number(cx, "tsecr", echo);
            zelk_printf(cx.out, "%sTSval=%u TSecr=%u>", option_text(" <TSopt ", " <Timestamp "), value, echo);
            return get_u8(cx, p + 1);
        }
        case 9: zelk_printf(cx.out, " <Partial Order Con. Perm.>"); return 2;
        case 10: zelk_printf(cx.out, " <Partial Order Serv. Profile>"); return 3;
        case 11:
        case 12:
        case 13: {
            static const char* const forms[] = {"%u>", "New %u>", "Echo %u>"};
            uint32_t count = get_be32(cx, p + 2);
            zelk_printf(cx.out, "%s", option_text(" <CC ", " <Connection Count "));
            zelk_printf(cx.out, forms[kind - 11], count);
            return get_u8(cx, p + 1);
        }
        case 14: {
            static const char* const names[] = {" (TCP)", " (8-Bit)", " (16-Bit)"};
            uint8_t type = get_u8(cx, p + 2);
            zelk_printf(cx.out, " <Alternate Checksum Req. Type %d", type);
            if (settings.verbose) zelk_printf(cx.out, "%s", dense_name(names, type, " (unknown)"));
            zelk_printf(cx.out, ">");
            return 3;
        }
        case 15: zelk_printf(cx.out, " <Alternate Checksum Data>"); return 3;
        case 18: zelk_printf(cx.out, " <Trailer Checksum Option>"); return 3;
        case 19: zelk_printf(cx.out, " <MD5 signature>"); return 18;
        default: return 0;
    }
}

static void print_options(decode_context& cx, const uint8_t* options, unsigned length) {
    zelk_printf(cx.out, "  Options");
    if (verbose()) field(cx, "options_length", "(%u bytes)", length);
    zelk_printf(cx.out, ": [");
    unsigned cursor = 0;
    while (cursor < length) {
        unsigned advance = print_option(cx, options + cursor);
        if (advance == 0) break;
        cursor += advance;
    }
    zelk_printf(cx.out, " ]\n");
}

static void check_flags(decode_context& cx, uint8_t flags) {
    const char* error = nullptr;
    if ((flags & 0x3f) == 0x3f)
        error = "  Error: protocol error in flags(all set)\n";
    else if ((flags & (SYN | RST)) == (SYN | RST))
        error = "  Error: protocol error in flags(SYN & RST)\n";
    else if (flags == 0)
        error = "  Error: no flags set\n";
    if (error) {
        zelk_printf(cx.out, "%s", error);
        record_text(cx, "error", error + 9, strlen(error + 9) - 1);
        bump(cx.counters.tcp_error);
    }
}

// The segment's headers and payload go to the stream collection, which
// gets them in frame order.
static void collect_segment(decode_context& cx, const uint8_t* tcp, const uint8_t* payload, unsigned payload_length,
                            int ip_version) {
    // Segments without payload add nothing to the printed stream.
    if (payload_length == 0) return;
    tcp_stream_piece piece{};
    // Only a header of this very frame may be copied; behind IPv6 there is
    // none and the copy stays zero.
    const uint8_t* ip = cx.tcp_stream_ip_header;
    if (ip_version == 4 && ip && in_frame(cx, ip, 20)) memcpy(piece.ip_header, ip, 20);
    memcpy(piece.tcp_header, tcp, 20);
    piece.payload.assign(reinterpret_cast<const char*>(payload), payload_length);
    cx.stream_pieces.push_back(std::move(piece));
}

// Data segments go to the decoder of their port (first match), else to a
// loaded module.
static void hand_on_payload(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame,
                            unsigned payload_offset, uint16_t source_port, uint16_t destination_port) {
    auto on_port = [&](uint16_t port) { return source_port == port || destination_port == port; };
    // A segment without payload (a pure ACK) carries no message: the
    // decoders would read a header that is not there.
    bool has_payload = ip_message_length(cx, header_at(cx, frame, payload_offset)) > 0;
    if (on_port(179)) {
        if (has_payload) decode_bgp(cx, frame, payload_offset);
        return;
    }
    if (on_port(639)) {
        if (has_payload) decode_msdp(cx, frame, payload_offset);
        return;
    }
    if (on_port(6068)) {
        if (has_payload) decode_gsmp(cx, frame, payload_offset);
        return;
    }
    // Application decoders show what they find; modules still get the
    // payload.
    decode_tcp_application(cx, lengths, frame, payload_offset, source_port, destination_port);
    if (modules_loaded())
        offer_payload(cx, header_at(cx, frame, payload_offset), 2, 6, 6, source_port, destination_port);
}

int decode_tcp(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset,
               int ip_version) {
    const uint8_t* h = header_at(cx, frame, offset);
    layer(cx, "tcp", "- TCP Header -");
    need(cx, h, 20);
    uint16_t source_port = get_be16(cx, h);
    uint16_t destination_port = get_be16(cx, h + 2);
    unsigned header_length = (h[12] >> 4) * 4u;
    uint8_t flags = h[13];

    field(cx, "src_port", "\n  Src Port: %d", source_port);
    if (lookup_names()) print_name(cx, "src_port", zelk_service_name_cached(source_port, "tcp"));
    field(cx, "dst_port", ", Dst Port: %d", destination_port);
    if (lookup_names()) print_name(cx, "dst_port", zelk_service_name_cached(destination_port, "tcp"));
    if (where_rejects_early(cx)) return 0;
    field(cx, "seq", "\n  Seq.: %u", get_be32(cx, h + 4));
    field(cx, "ack", "\n  Ack-Seq.: %u", get_be32(cx, h + 8));
    field(cx, "data_offset", ", Data-Offset: %d\n", header_length);
    print_flags(cx, flags);
    field(cx, "window", "\n  Win-Size: %d", get_be16(cx, h + 14));
    field(cx, "urgent_pointer", ", Urg-Ptr: 0x%04x\n", get_be16(cx, h + 18));
    uint16_t checksum = get_be16(cx, h + 16);
    field(cx, "checksum", "  Checksum: 0x%04x", checksum);
    if (settings.calc_checksums)
        print_transport_checksum_verdict(cx, h, 6, 16, checksum, cx.counters.tcp_bad);
    else
        zelk_printf(cx.out, "\n");

    // A data offset below 5 has no options; its payload still starts
    // behind the fixed header.
    if (header_length > 20) print_options(cx, h + 20, header_length - 20);
    check_flags(cx, flags);

    bool carries_data = (flags & (PSH | ACK)) == (PSH | ACK) || flags == ACK;
    if (header_length < 20) header_length = 20;
    unsigned payload_offset = offset + header_length;
    const uint8_t* payload = h + header_length;
    size_t before = static_cast<size_t>(payload - frame);
    size_t wire_rest = lengths->wire_length > before ? lengths->wire_length - before : 0;
    unsigned payload_length = static_cast<unsigned>(captured_from(cx, payload, wire_rest));
    // The segment's own payload, without link-layer padding.
    if (recording()) record_number(cx, "payload_length", static_cast<long long>(ip_message_length(cx, payload)));
    // --follow takes the segment's own payload, no link-layer padding.
    if (recording() && follow_wanted(6))
        note_transport_payload(cx, 6, payload, ip_message_length(cx, payload), get_be32(cx, h + 4), flags);

    if (settings.print_tcp_stream && carries_data)
        collect_segment(cx, h, payload, payload_length < 0xffff ? payload_length : 0xffff, ip_version);
    cx.tcp_seq = get_be32(cx, h + 4);
    // A retransmission repeats messages already shown (reassembly follows
    // the stream): only modules still get its payload.
    bool repeat = reassembly_on() && tcp_segment_repeats(cx, h, ip_message_length(cx, payload));
    if (repeat) {
        record_flag(cx, "retransmission", true);
        if (carries_data && modules_loaded()) offer_payload(cx, payload, 2, 6, 6, source_port, destination_port);
    } else if (carries_data) {
        hand_on_payload(cx, lengths, frame, payload_offset, source_port, destination_port);
    }
    if (settings.print_tcp_hex && !settings.print_tcp_text) hex_dump(cx, payload, payload_length);
    if (settings.print_tcp_text && !settings.print_tcp_hex) text_dump(cx, payload, payload_length);
    // Messages that began in earlier segments are decoded whole here.
    if (reassembly_on()) offer_tcp_segment(cx, h, payload, ip_message_length(cx, payload));
    bump(cx.counters.tcp);
    return 0;
}
