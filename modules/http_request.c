/* Prints the request line of HTTP requests to and from ports 80 and 8080,
 * and lends the capture a filter rule for that traffic.
 *
 *   nodrix -d eth0 --module build/modules/http_request.so
 */
#include <ctype.h>
#include <string.h>

#include "nodrix/module.h"

static const char *const methods[] = {"GET ",     "POST ",  "HEAD ",    "PUT ",  "DELETE ",
                                      "OPTIONS ", "PATCH ", "CONNECT ", "TRACE "};

int module_info(struct module_description *description) {
    description->name = "HTTP request line";
    description->version = "1.0";
    description->description = "Prints the request line of HTTP requests on ports 80 and 8080";
    description->filter = "tcp port 80 or tcp port 8080";
    description->network = MODULE_NETWORK_IP;
    description->protocol_a = 6;
    description->protocol_b = 6;
    description->port_a = 80;
    description->port_b = 8080;
    return 0;
}

static int starts_with_method(const uint8_t *payload, size_t length) {
    for (size_t i = 0; i < sizeof methods / sizeof methods[0]; ++i) {
        size_t n = strlen(methods[i]);
        if (length >= n && memcmp(payload, methods[i], n) == 0) return 1;
    }
    return 0;
}

int module_init(const uint8_t *payload, int32_t network, int32_t protocol, int32_t source_port,
                int32_t destination_port) {
    (void)network;
    (void)protocol;
    size_t length = module_payload_length();
    if (!starts_with_method(payload, length)) return 0;
    size_t end = 0;
    while (end < length && payload[end] != '\r' && payload[end] != '\n') ++end;
    module_printf("- HTTP Request -\n  %d -> %d: ", (int)source_port, (int)destination_port);
    for (size_t i = 0; i < end; ++i) module_printf("%c", isprint(payload[i]) ? payload[i] : '.');
    module_printf("\n");
    return 0;
}
