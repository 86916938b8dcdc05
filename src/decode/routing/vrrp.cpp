#include "decode/routing/vrrp.h"

#include "decode/decoder.h"
#include "decode/ip/ipv4.h"

namespace {

constexpr const char* authentication_types[] = {"No authentication", "Simple text password",
                                                "IP Authentication Header"};

constexpr uint8_t advertisement = 1;
constexpr uint8_t simple_text_password = 1;
constexpr size_t password_length = 8;

}  // namespace

int decode_vrrp(decode_context& cx, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(cx, frame, offset);
    uint8_t first = get_u8(cx, h);
    unsigned type = first & 0x0f;
    layer(cx, "vrrp", "- VRRP Header -");
    field(cx, "version", "\n  Version: %d", first >> 4);
    field(cx, "type", ", Type: %d", type);
    print_name(cx, "type", type == advertisement ? "Advertisement" : "unknown");
    need(cx, h + 1, 2);
    field(cx, "virtual_router_id", "\n  Virtual Router ID: %d", get_u8(cx, h + 1));
    field(cx, "priority", ", Priority: %d", get_u8(cx, h + 2));
    uint8_t count = get_u8(cx, h + 3), authentication = get_u8(cx, h + 4);
    field(cx, "address_count", "\n  Count IP Addrs: %d", count);
    field(cx, "auth_type", ", Auth. type: %d", authentication);
    print_name(cx, "auth_type", dense_name(authentication_types, authentication, "unknown"));
    field(cx, "checksum", "\n  Checksum: 0x%04x\n", get_be16(cx, h + 6));
    const uint8_t* address = h + 8;
    if (count != 0) {
        zelk_printf(cx.out, "  IP Addrs: ");
        for (unsigned i = 0; i < count; ++i, address += 4) {
            need(cx, address, 4);
            zelk_printf(cx.out, "%u.%u.%u.%u ", address[0], address[1], address[2], address[3]);
            list_text(cx, "addresses", ipv4_text(cx, address));
        }
        zelk_printf(cx.out, "\n");
    }
    if (authentication == simple_text_password) {
        zelk_printf(cx.out, "  Password: \"");
        print_text_bytes(cx, address, password_length);
        record_text(cx, "password", reinterpret_cast<const char*>(address), password_length);
        zelk_printf(cx.out, "\"\n");
    }
    bump(cx.counters.vrrp);
    return 0;
}
