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
void print_address(bool destination, const uint8_t* p) {
    uint16_t socket = get_be16(p + 10);
    if (destination)
        field("dst_net", "\n  [Dst] Net: %08x", get_be32(p));
    else
        field("src_net", "\n  [Src] Net: %08x", get_be32(p));
    need(p + 4, 6);
    field(destination ? "dst_node" : "src_node", ", Node: %s", zelk_mac_to_text(p + 4));
    field(destination ? "dst_socket" : "src_socket", ", Socket: %d", socket);
    if (verbose()) print_name(destination ? "dst_socket" : "src_socket", find_name(sockets, socket, "unknown"));
}

void print_datastream_type(uint8_t type) {
    record_number("datastream_type", type);
    if (type == 0xfe)
        zelk_printf("End-of-Connection");
    else if (type == 0xff)
        zelk_printf("End-of-Connection Acknowledgement");
    else
        zelk_printf("%u", type);
}

}  // namespace

int decode_ipx(const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    layer("ipx", "\n- IPX Header -");
    need(h, ipx_header_length);
    field("checksum", "\n  Checksum: 0x%04x", get_be16(h));
    field("length", ", Length: %d\n", get_be16(h + 2));
    uint8_t packet_type = h[5];
    field("transport_control", "  Transport Control: %d", h[4]);
    field("packet_type", ", Packet Type: %d", packet_type);
    if (verbose())
        if (const char* name = find_name(packet_types, packet_type, nullptr)) print_name("packet_type", name);
    print_address(true, h + 6);
    print_address(false, h + 18);
    bump(counters.ipx);

    unsigned next = offset + ipx_header_length;
    switch (packet_type) {
        // Packet type 1 (RIP) goes to the IPX RIP decoder.
        case 1: decode_ipx_rip(frame, next); break;
        case 5: decode_spx(frame, next); break;
        default: zelk_printf("\n"); break;
    }
    return 0;
}

int decode_spx(const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    layer("spx", "\n- SPX Header -");
    zelk_printf("\n  Connection Control: ");
    need(h, spx_header_length);
    uint8_t control = h[0];
    record_number("connection_control", control);
    for (const auto& bit : connection_bits)
        if (control & bit.code) {
            zelk_printf("%s ", bit.name);
            list_text("connection_control_name", bit.name);
        }
    zelk_printf("\n  Datastream Type: ");
    print_datastream_type(h[1]);
    field("src_connection_id", "\n  Source Con. ID: %u", get_be16(h + 2));
    field("dst_connection_id", ", Dest. Con. ID: %u\n", get_be16(h + 4));
    field("seq", "\n  Seq.: %u", get_be16(h + 6));
    field("ack", ", Ack-Seq.: %u\n", get_be16(h + 8));
    field("allocation", "\n  Allocation Number: 0x%04x\n", get_be16(h + 10));
    if (control & spxv2_bit) {
        field("negotiate_size", "  Negotiate Size: %d\n", get_be16(h + 12));
        bump(counters.spxv2);
    } else {
        bump(counters.spx);
    }
    return 0;
}
