// Loadable modules: shared objects that describe themselves, lend their
// filter rule to the capture and receive the TCP and UDP payloads of their
// ports.
#pragma once

#include <cstdint>

#include "nodrix/module.h"

// One loaded module; the list is kept most recently loaded first.
struct module_record {
    module_record* next;
    void* handle;
    module_handler handler;
    const char* version;
    const char* name;
    const char* description;
    // The filter rules of every module loaded so far, "(A) or (B) ...".
    const char* combined_filter;
    uint16_t network;
    uint8_t protocol_a;
    uint8_t protocol_b;
    uint16_t port_a;
    uint16_t port_b;
    uint16_t port_c;
    uint16_t port_d;
};

// Loads one module and prints its description; ends the program when the
// dynamic loader fails.
int load_module(const char* path);
// Loads every entry of a directory whose name does not begin with ".".
void load_module_directory(const char* path);
// The start-up use of --module (with its filter rule) and --modules.
void start_modules();
// True when --module loaded a module or --modules a directory; the TCP and
// UDP decoders then offer their payloads instead of dumping them.
bool modules_loaded();
// Hands a payload to the most recently loaded matching module, if any.
struct decode_context;
void offer_payload(const decode_context& cx, const uint8_t* payload, int32_t network, uint8_t protocol_a_value,
                   uint8_t protocol_b_value, uint16_t source_port, uint16_t destination_port);
// Closes every module.
void unload_modules();
