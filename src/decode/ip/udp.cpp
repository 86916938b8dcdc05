#include "decode/ip/udp.h"

#include "decode/app/dispatch.h"
#include "decode/decoder.h"
#include "decode/ip/pseudo_header.h"
#include "decode/routing/rip.h"
#include "driver/modules.h"

// The payload goes to the decoder of its port (first match), else to a
// loaded module; returns false when nobody took it, so that it is dumped.
static bool hand_on_payload(const frame_lengths* lengths, const uint8_t* frame, unsigned payload_offset,
                            uint16_t source_port, uint16_t destination_port) {
    auto on_port = [&](uint16_t port) { return source_port == port || destination_port == port; };
    if (on_port(520)) {
        decode_rip(frame, payload_offset);
        return true;
    }
    if (on_port(521)) {
        decode_ripng(frame, payload_offset);
        return true;
    }
    // Application decoders show what they find; the dump options and
    // modules still get the payload.
    decode_udp_application(lengths, frame, payload_offset, source_port, destination_port);
    if (modules_loaded()) {
        offer_payload(header_at(frame, payload_offset), 2, 17, 17, source_port, destination_port);
        return true;
    }
    return false;
}

int decode_udp(const frame_lengths* lengths, const uint8_t* frame, unsigned offset, int) {
    const uint8_t* h = header_at(frame, offset);
    layer("udp", "- UDP Header -");
    need(h, 8);
    uint16_t source_port = get_be16(h);
    uint16_t destination_port = get_be16(h + 2);
    uint16_t checksum = get_be16(h + 6);
    field("src_port", "\n  Src Port: %d", source_port);
    if (lookup_names()) print_name("src_port", zelk_service_name_cached(source_port, "udp"));
    field("dst_port", ", Dst Port: %d", destination_port);
    if (lookup_names()) print_name("dst_port", zelk_service_name_cached(destination_port, "udp"));
    field("length", "\n  Length: %d", get_be16(h + 4));
    field("checksum", ", Checksum: 0x%04x", checksum);
    if (settings.calc_checksums)
        print_transport_checksum_verdict(h, 17, 6, checksum, counters.udp_bad);
    else
        zelk_printf("\n");

    if (!hand_on_payload(lengths, frame, offset + 8, source_port, destination_port)) {
        // From the payload to the end of the frame on the wire, as far as
        // captured.
        const uint8_t* payload = h + 8;
        size_t before = static_cast<size_t>(payload - frame);
        size_t wire_rest = lengths->wire_length > before ? lengths->wire_length - before : 0;
        unsigned length = static_cast<unsigned>(captured_from(payload, wire_rest));
        if (settings.print_udp_hex && !settings.print_udp_text) hex_dump(payload, length);
        if (settings.print_udp_text && !settings.print_udp_hex) text_dump(payload, length);
    }
    bump(counters.udp);
    return 0;
}
