#include "decode/link/mop.h"

#include "decode/decoder.h"

namespace {

constexpr const char* mop_codes[] = {
    "Memory Load with Transfer Address",
    "Dump Complete",
    "Memory Load",
    "Assistance volunteer",
    "Request Memory Dump",
    "Request ID",
    "Boot",
    "System ID",
    "Request Program",
    "Request Counters",
    "Request Memory Load",
    "Counters",
    "Request Dump Service",
    "Reserve Console",
    "Memory Dump Data",
    "Release Console",
    "Reserved",
    "Console Command and Poll",
    "Reserved",
    "Console Response and Ack",
    "Parameter Load with Transfer Address",
    "Counters",
    "unknown",
    "unknown",
    "Active Loop Data",
    "unknown",
    "Passive Loop Data",
};

constexpr const char* program_types[] = {
    "Secondary Loader", "Tertiary Loader", "Operation System", "Management Image", "CMIP Script File",
};

enum mop_code : uint8_t {
    memory_load = 2,
    request_program = 8,
    request_memory_load = 10,
    parameter_load = 20,
};

}  // namespace

int decode_mop(decode_context& cx, const uint8_t* frame, unsigned offset) {
    const uint8_t* m = header_at(cx, frame, offset);
    layer(cx, "mop", "\n- MOPv3 Dump/Load Protocol header -\n");
    uint8_t code = get_u8(cx, m);
    field(cx, "code", "  Code: %u", code);
    print_name(cx, "code", dense_name(mop_codes, code, "unknown"));
    zelk_printf(cx.out, "\n");
    switch (code) {
        case request_program: {
            need(cx, m, 4);
            field(cx, "device_type", "  Device Type: %u", m[1]);
            field(cx, "format_version", ", Fmt. Version: %u\n", m[2]);
            field(cx, "program_type", "  Program Type: %u", m[3]);
            print_name(cx, "program_type", dense_name(program_types, m[3], "Unknown"));
            zelk_printf(cx.out, "\n");
            break;
        }
        case request_memory_load:
            need(cx, m, 3);
            field(cx, "load_number", "  Load Number: %u", m[1]);
            field(cx, "load_error", ", Error: %u\n", m[2]);
            break;
        case memory_load:
            need(cx, m, 6);
            field(cx, "load_number", "  Load Number: %u", m[1]);
            zelk_printf(cx.out, ", Load Address: 0x%02x 0x%02x 0x%02x 0x%02x\n", m[2], m[3], m[4], m[5]);
            record_hex(cx, "load_address", m + 2, 4);
            break;
        case parameter_load:
            need(cx, m, 7);
            field(cx, "load_number", "  Load Number: %u", m[1]);
            field(cx, "parameter", ", Parameter: %u\n", m[2]);
            zelk_printf(cx.out, "  Transfer Address: 0x%02x 0x%02x 0x%02x 0x%02x\n", m[3], m[4], m[5], m[6]);
            record_hex(cx, "transfer_address", m + 3, 4);
            break;
        default: break;
    }
    bump(cx.counters.dump_load);
    return 0;
}
