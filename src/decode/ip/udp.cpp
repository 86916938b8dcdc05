#include "decode/ip/udp.h"

#include "decode/app/dispatch.h"
#include "decode/decoder.h"
#include "decode/ip/pseudo_header.h"
#include "decode/routing/rip.h"
#include "driver/modules.h"
#include "stats/views.h"

// The payload goes to the decoder of its port (first match), else to a
// loaded module; returns false when nobody took it, so that it is dumped.
static bool hand_on_payload(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame,
                            unsigned payload_offset, uint16_t source_port, uint16_t destination_port) {
    auto on_port = [&](uint16_t port) { return source_port == port || destination_port == port; };
    if (on_port(520)) {
        decode_rip(cx, frame, payload_offset);
        return true;
    }
    if (on_port(521)) {
        decode_ripng(cx, frame, payload_offset);
        return true;
    }
    // Application decoders show what they find; the dump options and
    // modules still get the payload.
    decode_udp_application(cx, lengths, frame, payload_offset, source_port, destination_port);
    if (modules_loaded()) {
        offer_payload(cx, header_at(cx, frame, payload_offset), 2, 17, 17, source_port, destination_port);
        return true;
    }
    return false;
}

int decode_udp(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset, int) {
    const uint8_t* h = header_at(cx, frame, offset);
    layer(cx, "udp", "- UDP Header -");
    need(cx, h, 8);
    uint16_t source_port = get_be16(cx, h);
    uint16_t destination_port = get_be16(cx, h + 2);
    uint16_t checksum = get_be16(cx, h + 6);
    field(cx, "src_port", "\n  Src Port: %d", source_port);
    if (lookup_names()) print_name(cx, "src_port", zelk_service_name_cached(source_port, "udp"));
    field(cx, "dst_port", ", Dst Port: %d", destination_port);
    if (lookup_names()) print_name(cx, "dst_port", zelk_service_name_cached(destination_port, "udp"));
    if (!udp_may_carry_frames(source_port, destination_port) && where_rejects_early(cx)) return 0;
    field(cx, "length", "\n  Length: %d", get_be16(cx, h + 4));
    field(cx, "checksum", ", Checksum: 0x%04x", checksum);
    if (recording() && follow_wanted(17)) {
        const uint8_t* payload = h + 8;
        note_transport_payload(cx, 17, payload, ip_message_length(cx, payload), 0, 0);
    }
    if (settings.calc_checksums)
        print_transport_checksum_verdict(cx, h, 17, 6, checksum, cx.counters.udp_bad);
    else
        zelk_printf(cx.out, "\n");

    if (!hand_on_payload(cx, lengths, frame, offset + 8, source_port, destination_port)) {
        // From the payload to the end of the frame on the wire, as far as
        // captured.
        const uint8_t* payload = h + 8;
        size_t before = static_cast<size_t>(payload - frame);
        size_t wire_rest = lengths->wire_length > before ? lengths->wire_length - before : 0;
        unsigned length = static_cast<unsigned>(captured_from(cx, payload, wire_rest));
        if (settings.print_udp_hex && !settings.print_udp_text) hex_dump(cx, payload, length);
        if (settings.print_udp_text && !settings.print_udp_hex) text_dump(cx, payload, length);
    }
    bump(cx.counters.udp);
    return 0;
}
