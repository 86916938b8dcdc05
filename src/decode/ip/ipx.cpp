#include "decode/ip/ipx.h"

#include "decode/decoder.h"
#include "decode/routing/rip.h"

namespace {

constexpr unsigned ipx_header_length = 30;
constexpr unsigned spx_header_length = 12;  // SPXv2 adds the negotiate size

constexpr code_name packet_types[] = {
    {0, "unknown"}, {1, "RIP"},  {2, "Echo"},     {3, "Error"},     {4, "IDP"},
    {5, "SPP"},     {17, "NCP"}, {20, "NetBIOS"}, {104, "NDS NCP"},
};

constexpr code_name sockets[] = {
    {0x0002, "Echo"},    {0x0003, "Error"}, {0x0247, "NVT"},    {0x0451, "NCP"},  {0x0452, "SAP"},   {0x0453, "RIP"},
    {0x0455, "NetBIOS"}, {0x0456, "NDP"},   {0x0553, "NWLink"}, {0x8063, "NVT2"}, {0x811e, "Print"}, {0x85be, "EIGRP"},
};

constexpr code_name connection_bits[] = {
    {0x01, "XHD"}, {0x02, "RES1"}, {0x04, "NEG"}, {0x08, "SPXv2"},
    {0x10, "EOM"}, {0x20, "ATN"},  {0x40, "ACK"}, {0x80, "SYS"},
};

constexpr uint8_t spxv2_bit = 0x08;

// One end of the exchange: network, node and socket.
void print_address(decode_context& cx, bool destination, const uint8_t* p) {
    uint16_t socket = get_be16(cx, p + 10);
    if (destination)
        field(cx, "dst_net", "\n  [Dst] Net: %08x", get_be32(cx, p));
    else
        field(cx, "src_net", "\n  [Src] Net: %08x", get_be32(cx, p));
    need(cx, p + 4, 6);
    field(cx, destination ? "dst_node" : "src_node", ", Node: %s", zelk_mac_to_text(p + 4));
    field(cx, destination ? "dst_socket" : "src_socket", ", Socket: %d", socket);
    if (verbose()) print_name(cx, destination ? "dst_socket" : "src_socket", find_name(sockets, socket, "unknown"));
}

void print_datastream_type(decode_context& cx, uint8_t type) {
    record_number(cx, "datastream_type", type);
    if (type == 0xfe)
        zelk_printf(cx.out, "End-of-Connection");
    else if (type == 0xff)
        zelk_printf(cx.out, "End-of-Connection Acknowledgement");
    else
        zelk_printf(cx.out, "%u", type);
}

}  // namespace

int decode_ipx(decode_context& cx, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    layer(cx, "ipx", "\n- IPX Header -");
    need(cx, h, ipx_header_length);
    field(cx, "checksum", "\n  Checksum: 0x%04x", get_be16(cx, h));
    field(cx, "length", ", Length: %d\n", get_be16(cx, h + 2));
    uint8_t packet_type = h[5];
    field(cx, "transport_control", "  Transport Control: %d", h[4]);
    field(cx, "packet_type", ", Packet Type: %d", packet_type);
    if (verbose())
        if (const char* name = find_name(packet_types, packet_type, nullptr)) print_name(cx, "packet_type", name);
    print_address(cx, true, h + 6);
    print_address(cx, false, h + 18);
    bump(cx.counters.ipx);

    unsigned next = offset + ipx_header_length;
    switch (packet_type) {
        // Packet type 1 (RIP) goes to the IPX RIP decoder.
        case 1: decode_ipx_rip(cx, frame, next); break;
        case 5: decode_spx(cx, frame, next); break;
        default: zelk_printf(cx.out, "\n"); break;
    }
    return 0;
}

int decode_spx(decode_context& cx, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    layer(cx, "spx", "\n- SPX Header -");
    zelk_printf(cx.out, "\n  Connection Control: ");
    need(cx, h, spx_header_length);
    uint8_t control = h[0];
    record_number(cx, "connection_control", control);
    for (const auto& bit : connection_bits)
        if (control & bit.code) {
            zelk_printf(cx.out, "%s ", bit.name);
            list_text(cx, "connection_control_name", bit.name);
        }
    zelk_printf(cx.out, "\n  Datastream Type: ");
    print_datastream_type(cx, h[1]);
    field(cx, "src_connection_id", "\n  Source Con. ID: %u", get_be16(cx, h + 2));
    field(cx, "dst_connection_id", ", Dest. Con. ID: %u\n", get_be16(cx, h + 4));
    field(cx, "seq", "\n  Seq.: %u", get_be16(cx, h + 6));
    field(cx, "ack", ", Ack-Seq.: %u\n", get_be16(cx, h + 8));
    field(cx, "allocation", "\n  Allocation Number: 0x%04x\n", get_be16(cx, h + 10));
    if (control & spxv2_bit) {
        field(cx, "negotiate_size", "  Negotiate Size: %d\n", get_be16(cx, h + 12));
        bump(cx.counters.spxv2);
    } else {
        bump(cx.counters.spx);
    }
    return 0;
}
