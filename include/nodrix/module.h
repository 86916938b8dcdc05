/* The interface between nodrix and its loadable modules.
 *
 * A module is a shared object that exports two functions, looked up by
 * these exact names:
 *
 *   module_info  fills a module_description: the module's name, version,
 *                description and BPF filter rule, and the traffic it wants.
 *   module_init  is called with every TCP or UDP payload that matches the
 *                description (it is not called when the module is loaded).
 *
 * A payload matches when the network type equals `network`, its IP protocol
 * equals protocol_a or protocol_b, and its source or destination port equals
 * one of port_a to port_d. When several loaded modules match, only the one
 * loaded last is called. Ports are in host byte order; unused ports and
 * protocols are 0.
 *
 * nodrix also offers its modules the two services declared at the end. */
#ifndef NODRIX_MODULE_H
#define NODRIX_MODULE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The network type of TCP and UDP payloads carried in IP. */
#define MODULE_NETWORK_IP 2

struct module_description {
    const char *version;
    const char *name;
    const char *description; /* shown under --verbose */
    const char *filter;      /* BPF rule; becomes the capture filter of --module */
    int32_t network;         /* low 16 bits used */
    uint8_t protocol_a;      /* IP protocol numbers: 6 TCP, 17 UDP */
    uint8_t protocol_b;
    uint16_t port_a;
    uint16_t port_b;
    uint16_t port_c;
    uint16_t port_d;
    uint16_t unused; /* keeps port_d in a 32-bit slot */
};

/* Exported by every module. Texts left null count as empty. */
int module_info(struct module_description *description);
/* Called with the first payload byte, the network type, the IP protocol
 * number and the ports. The payload is a copy followed by a NUL byte, so
 * text may be scanned with the string functions; it is valid during the
 * call only. */
int module_init(const uint8_t *payload, int32_t network, int32_t protocol, int32_t source_port,
                int32_t destination_port);

typedef int (*module_info_function)(struct module_description *description);
typedef int (*module_handler)(const uint8_t *payload, int32_t network, int32_t protocol, int32_t source_port,
                              int32_t destination_port);

/* Services of nodrix, callable from module_init. */

/* The number of payload bytes handed to module_init (captured bytes up to
 * the end of the IP payload); the NUL behind them is not counted. */
size_t module_payload_length(void);
/* Prints like printf to nodrix's output (standard output or its log file),
 * silenced by --quiet like every decoded line. */
int module_printf(const char *format, ...) __attribute__((format(printf, 1, 2)));

#ifdef __cplusplus
}
#endif

#endif
