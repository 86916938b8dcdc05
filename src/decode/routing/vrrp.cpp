#include "decode/routing/vrrp.h"

#include <arpa/inet.h>

#include "decode/decoder.h"
#include "decode/ip/ipv4.h"

namespace {

constexpr const char* authentication_types[] = {"No authentication", "Simple text password",
                                                "IP Authentication Header"};

constexpr uint8_t advertisement = 1;
constexpr uint8_t simple_text_password = 1;
constexpr size_t password_length = 8;

}  // namespace

namespace {

int vrrp(decode_context& cx, const uint8_t* frame, unsigned offset, bool over_ipv6) {
    const uint8_t* h = header_at(cx, frame, offset);
    uint8_t first = get_u8(cx, h);
    unsigned type = first & 0x0f, version = first >> 4;
    layer(cx, "vrrp", "- VRRP Header -");
    field(cx, "version", "\n  Version: %d", version);
    field(cx, "type", ", Type: %d", type);
    print_name(cx, "type", type == advertisement ? "Advertisement" : "unknown");
    need(cx, h + 1, 2);
    field(cx, "virtual_router_id", "\n  Virtual Router ID: %d", get_u8(cx, h + 1));
    field(cx, "priority", ", Priority: %d", get_u8(cx, h + 2));
    uint8_t count = get_u8(cx, h + 3), authentication = get_u8(cx, h + 4);
    field(cx, "address_count", "\n  Count IP Addrs: %d", count);
    // Version 3 (RFC 5798) has no authentication: bytes 4 and 5 hold the
    // maximum advertisement interval in centiseconds (low 12 bits). The
    // text keeps its line; the record holds what the bytes mean.
    if (version == 3) {
        if (!recording()) {
            zelk_printf(cx.out, ", Auth. type: %d", authentication);
            if (settings.verbose)
                zelk_printf(cx.out, " (%s)", dense_name(authentication_types, authentication, "unknown"));
        }
        record_number(cx, "max_advert_interval_cs", get_be16(cx, h + 4) & 0x0fffu);
    } else {
        field(cx, "auth_type", ", Auth. type: %d", authentication);
        print_name(cx, "auth_type", dense_name(authentication_types, authentication, "unknown"));
        record_number(cx, "advert_interval", get_u8(cx, h + 5));
    }
    field(cx, "checksum", "\n  Checksum: 0x%04x\n", get_be16(cx, h + 6));
    const uint8_t* address = h + 8;
    // Over IPv6 the addresses are IPv6 ones, 16 bytes each.
    unsigned address_length = over_ipv6 ? 16 : 4;
    if (count != 0) {
        zelk_printf(cx.out, "  IP Addrs: ");
        for (unsigned i = 0; i < count; ++i, address += address_length) {
            need(cx, address, address_length);
            if (over_ipv6) {
                char text[INET6_ADDRSTRLEN];
                inet_ntop(AF_INET6, address, text, sizeof text);
                zelk_printf(cx.out, "%s ", text);
                list_text(cx, "addresses", text);
            } else {
                zelk_printf(cx.out, "%u.%u.%u.%u ", address[0], address[1], address[2], address[3]);
                list_text(cx, "addresses", ipv4_text(cx, address));
            }
        }
        zelk_printf(cx.out, "\n");
    }
    // Version 3 has no password: the text keeps its line, the record none.
    if (authentication == simple_text_password && (version != 3 || !recording())) {
        zelk_printf(cx.out, "  Password: \"");
        print_text_bytes(cx, address, password_length);
        if (version != 3) record_text(cx, "password", reinterpret_cast<const char*>(address), password_length);
        zelk_printf(cx.out, "\"\n");
    }
    bump(cx.counters.vrrp);
    return 0;
}

}  // namespace

int decode_vrrp(decode_context& cx, const uint8_t* frame, unsigned offset) { return vrrp(cx, frame, offset, false); }

int decode_vrrp_over_ipv6(decode_context& cx, const uint8_t* frame, unsigned offset) {
    return vrrp(cx, frame, offset, true);
}
