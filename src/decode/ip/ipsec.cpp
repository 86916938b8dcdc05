#include "decode/ip/ipsec.h"

#include "decode/decoder.h"
#include "decode/ip/ip.h"

namespace {

constexpr const char* cpi_names[] = {nullptr, "OUI", "Deflate", "LZS"};

}  // namespace

int decode_ah(decode_context& cx, const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    layer(cx, "ah", "- IP Authentication Header -");
    uint8_t next_header = get_u8(cx, h);
    field(cx, "next_header", "\n  Next header: %d", next_header);
    if (verbose()) print_ip_protocol_name(cx, "next_header", next_header);
    uint8_t payload_length = get_u8(cx, h + 1);
    field(cx, "length", "\n  Length: %d", payload_length);
    uint32_t spi = get_be32(cx, h + 4);
    if (verbose())
        field(cx, "spi", "\n  Security Parameter Index: 0x%08x\n", spi);
    else
        field(cx, "spi", ", SPI: 0x%08x\n", spi);
    field(cx, "seq", "  Seq.: 0x%08x\n", get_be32(cx, h + 8));
    zelk_printf(cx.out, "  Authentication data:");
    // A length below 1 would make the data run backwards: show none.
    unsigned header_length = (payload_length + 2u) * 4u;
    unsigned data_length = header_length > 12 ? header_length - 12 : 0;
    if (data_length > 0) {
        if (recording()) {
            need(cx, h + 12, data_length);
            record_hex(cx, "authentication_data", h + 12, data_length);
        } else {
            unsigned line = 0;
            for (unsigned i = 0; i < data_length; ++i) {
                if (i % 12 == 0) zelk_printf(cx.out, "\n  0x%04x:", ++line);
                zelk_printf(cx.out, " %02x", get_u8(cx, h + 12 + i));
            }
            zelk_printf(cx.out, "\n");
        }
    }
    decode_ip_payload(cx, lengths, frame, offset + header_length, next_header);
    bump(cx.counters.ip_auth);
    return 0;
}

int decode_esp(decode_context& cx, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    layer(cx, "esp", "- IP ESP Header -\n");
    uint32_t spi = get_be32(cx, h);
    if (verbose())
        field(cx, "spi", "  Security Parameter Index: 0x%08x\n", spi);
    else
        field(cx, "spi", "  SPI: 0x%08x\n", spi);
    field(cx, "seq", "  Seq.: 0x%08x\n", get_be32(cx, h + 4));
    bump(cx.counters.ip_esp);
    return 0;
}

int decode_ipcomp(decode_context& cx, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    layer(cx, "ipcomp", "- IPComp(IP Payload Compression Protocol) Header -");
    uint8_t next_header = get_u8(cx, h);
    field(cx, "next_header", "\n  Next header: %u", next_header);
    if (verbose()) print_ip_protocol_name(cx, "next_header", next_header);
    uint16_t cpi = get_be16(cx, h + 2);
    field(cx, "flags", "\n  Flags: 0x%02x", get_u8(cx, h + 1));
    field(cx, "cpi", ", CPI: 0x%04x", cpi);
    if (verbose()) print_name(cx, "cpi", dense_name(cpi_names, cpi, "unknown"));
    zelk_printf(cx.out, "\n");
    bump(cx.counters.ipcomp);
    return 0;
}
