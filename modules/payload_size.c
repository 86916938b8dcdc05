/* Tells the size of every TCP and UDP payload on the web and DNS ports: a
 * starting point for modules that look at both transports.
 *
 *   nodrix -P trace.pcap --module build/modules/payload_size.so
 */
#include "nodrix/module.h"

int module_info(struct module_description *description) {
    description->name = "Payload size";
    description->version = "1.0";
    description->description = "Prints the size of TCP and UDP payloads on ports 53, 80, 443 and 8080";
    description->filter = "port 53 or port 80 or port 443 or port 8080";
    description->network = MODULE_NETWORK_IP;
    description->protocol_a = 6;
    description->protocol_b = 17;
    description->port_a = 53;
    description->port_b = 80;
    description->port_c = 443;
    description->port_d = 8080;
    return 0;
}

int module_init(const uint8_t *payload, int32_t network, int32_t protocol, int32_t source_port,
                int32_t destination_port) {
    (void)payload;
    (void)network;
    module_printf("- Payload Size -\n  %s %d -> %d: %zu bytes\n", protocol == 6 ? "TCP" : "UDP", (int)source_port,
                  (int)destination_port, module_payload_length());
    return 0;
}
