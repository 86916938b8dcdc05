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

int decode_vrrp(const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    uint8_t first = get_u8(h);
    unsigned type = first & 0x0f;
    layer("vrrp", "- VRRP Header -");
    field("version", "\n  Version: %d", first >> 4);
    field("type", ", Type: %d", type);
    print_name("type", type == advertisement ? "Advertisement" : "unknown");
    need(h + 1, 2);
    field("virtual_router_id", "\n  Virtual Router ID: %d", get_u8(h + 1));
    field("priority", ", Priority: %d", get_u8(h + 2));
    uint8_t count = get_u8(h + 3), authentication = get_u8(h + 4);
    field("address_count", "\n  Count IP Addrs: %d", count);
    field("auth_type", ", Auth. type: %d", authentication);
    print_name("auth_type", dense_name(authentication_types, authentication, "unknown"));
    field("checksum", "\n  Checksum: 0x%04x\n", get_be16(h + 6));
    const uint8_t* address = h + 8;
    if (count != 0) {
        zelk_printf("  IP Addrs: ");
        for (unsigned i = 0; i < count; ++i, address += 4) {
            need(address, 4);
            zelk_printf("%u.%u.%u.%u ", address[0], address[1], address[2], address[3]);
            list_text("addresses", ipv4_text(address));
        }
        zelk_printf("\n");
    }
    if (authentication == simple_text_password) {
        zelk_printf("  Password: \"");
        print_text_bytes(address, password_length);
        record_text("password", reinterpret_cast<const char*>(address), password_length);
        zelk_printf("\"\n");
    }
    bump(counters.vrrp);
    return 0;
}
