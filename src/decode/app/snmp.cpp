#include "decode/app/snmp.h"

#include <cstdio>
#include <string>

#include "decode/app/ber.h"
#include "decode/app/message.h"
#include "decode/decoder.h"
#include "decode/ip/ipv4.h"

namespace {

constexpr const char* pdu_types[] = {"GetRequest",     "GetNextRequest", "Response",    "SetRequest", "Trap",
                                     "GetBulkRequest", "InformRequest",  "SNMPv2-Trap", "Report"};
constexpr const char* error_statuses[] = {
    "noError",
    "tooBig",
    "noSuchName",
    "badValue",
    "readOnly",
    "genErr",
    "noAccess",
    "wrongType",
    "wrongLength",
    "wrongEncoding",
    "wrongValue",
    "noCreation",
    "inconsistentValue",
    "resourceUnavailable",
    "commitFailed",
    "undoFailed",
    "authorizationError",
    "notWritable",
    "inconsistentName",
};
constexpr const char* versions[] = {"v1", "v2c", "v2u", "v3"};
constexpr const char* generic_traps[] = {
    "coldStart", "warmStart", "linkDown", "linkUp", "authenticationFailure", "egpNeighborLoss", "enterpriseSpecific"};

constexpr code_name value_types[] = {
    {0x02, "INTEGER"},        {0x04, "OCTET STRING"}, {0x05, "NULL"},      {0x06, "OBJECT IDENTIFIER"},
    {0x30, "SEQUENCE"},       {0x40, "IpAddress"},    {0x41, "Counter32"}, {0x42, "Gauge32"},
    {0x43, "TimeTicks"},      {0x44, "Opaque"},       {0x46, "Counter64"}, {0x80, "noSuchObject"},
    {0x81, "noSuchInstance"}, {0x82, "endOfMibView"},
};

// SNMP values nest only a level or two; anything deeper is not SNMP.
constexpr unsigned max_depth = 16;

constexpr ber_rules snmp_rules{false, false, 64};

using tlv = ber_element;

// One BER element at `at`; it must end by `limit` (the end of the element
// that holds it). SNMP tags fit one octet, and lengths are definite.
tlv read_tlv(const message& m, size_t at, size_t limit) { return ber_read(m, at, limit, 0, snmp_rules); }

tlv expect(const message& m, size_t at, size_t limit, uint8_t tag, const char* what) {
    tlv t = read_tlv(m, at, limit);
    if (t.identifier != tag) throw malformed_message{what};
    return t;
}

long long integer_value(const message& m, const tlv& t) { return ber_integer_value(m, t); }
unsigned long long unsigned_value(const message& m, const tlv& t) { return ber_unsigned_value(m, t); }
std::string oid_text(const message& m, const tlv& t) { return ber_oid_text(m, t); }

bool all_printable(const message& m, const tlv& t) {
    for (size_t i = 0; i < t.length; ++i) {
        uint8_t c = m.u8(t.value + i);
        if (c < 0x20 || c > 0x7e) return false;
    }
    return true;
}

void print_hex(decode_context& cx, const message& m, const tlv& t) {
    for (size_t i = 0; i < t.length; ++i) zelk_printf(cx.out, " %02x", m.u8(t.value + i));
}

// A value by its BER type; constructed values show their elements.
void print_value(decode_context& cx, const message& m, const tlv& t, unsigned depth) {
    if (depth > max_depth) throw malformed_message{"BER nesting too deep"};
    record_number(cx, "value_type", t.identifier);
    const char* type = find_name(value_types, t.identifier, "unknown");
    if (verbose()) record_name(cx, "value_type", type);
    switch (t.identifier) {
        case 0x02: field(cx, "value", "INTEGER: %ld", static_cast<long>(integer_value(m, t))); return;
        case 0x04:
            if (all_printable(m, t)) {
                field(cx, "value", "STRING: \"%s\"", printable_text(cx, m.at(t.value, t.length), t.length));
            } else {
                zelk_printf(cx.out, "Hex-STRING:");
                print_hex(cx, m, t);
                record_hex(cx, "value", m.at(t.value, t.length), t.length);
            }
            return;
        case 0x05: zelk_printf(cx.out, "NULL"); return;
        case 0x06: {
            // Named first: oid_text may throw, and a thrown-through temporary
            // in an argument list upsets the stack-scope checker.
            std::string oid = oid_text(m, t);
            field(cx, "value", "OID: %s", oid.c_str());
            return;
        }
        case 0x40:
            if (t.length == 4) {
                field(cx, "value", "IpAddress: %s", ipv4_text(cx, m.at(t.value, 4)));
                return;
            }
            break;
        case 0x41:
        case 0x42:
        case 0x43:
        case 0x46:
            zelk_printf(cx.out, "%s: ", type);
            field(cx, "value", "%lu", static_cast<unsigned long>(unsigned_value(m, t)));
            return;
        case 0x80:
        case 0x81:
        case 0x82: zelk_printf(cx.out, "%s", type); return;
        default: break;
    }
    if (t.identifier & 0x20) {
        zelk_printf(cx.out, "%s {", t.identifier == 0x30 ? "SEQUENCE" : "constructed");
        for (size_t at = t.value; at < t.end();) {
            tlv inner = read_tlv(m, at, t.end());
            zelk_printf(cx.out, at == t.value ? "" : ", ");
            item(cx, "elements");
            item_closer close(cx);
            print_value(cx, m, inner, depth + 1);
            at = inner.end();
        }
        zelk_printf(cx.out, "}");
        return;
    }
    zelk_printf(cx.out, "type 0x%02x,", t.identifier);
    print_hex(cx, m, t);
    record_hex(cx, "value", m.at(t.value, t.length), t.length);
}

// The variable bindings; returns the first OID for the summary.
std::string print_bindings(decode_context& cx, const message& m, size_t at, size_t limit) {
    tlv list = expect(m, at, limit, 0x30, "expected the variable-binding list");
    std::string first;
    for (size_t p = list.value; p < list.end();) {
        tlv binding = expect(m, p, list.end(), 0x30, "expected a variable binding");
        tlv name = expect(m, binding.value, binding.end(), 0x06, "expected an OID in a variable binding");
        item(cx, "bindings");
        item_closer close(cx);
        std::string oid = oid_text(m, name);
        if (first.empty()) first = oid;
        field(cx, "oid", "  Binding: %s, ", oid.c_str());
        tlv value = read_tlv(m, name.end(), binding.end());
        print_value(cx, m, value, 1);
        zelk_printf(cx.out, "\n");
        p = binding.end();
    }
    return first;
}

void decode(decode_context& cx, const message& m) {
    bool all = expanded(settings.expand_all);
    tlv top = expect(m, 0, m.length, 0x30, "not a BER SEQUENCE");
    tlv version = expect(m, top.value, top.end(), 0x02, "expected the version");
    long long number = integer_value(m, version);
    field(cx, "version", "  Version: %ld", static_cast<long>(number));
    print_name(cx, "version", number >= 0 && number < 4 ? versions[number] : "unknown");
    if (number != 0 && number != 1) {
        zelk_printf(cx.out, "\n  [version not decoded]\n");
        record_text(cx, "error", "version not decoded");
        return;
    }
    tlv community = expect(m, version.end(), top.end(), 0x04, "expected the community");
    field(cx, "community", ", Community: \"%s\"\n",
          printable_text(cx, m.at(community.value, community.length), community.length));

    tlv pdu = read_tlv(m, community.end(), top.end());
    unsigned type = pdu.identifier & 0x1f;
    if ((pdu.identifier & 0xe0) != 0xa0 || type > 8) throw malformed_message{"unknown PDU type"};
    const char* pdu_name = pdu_types[type];
    field(cx, "pdu_type", "  PDU: %u", type);
    print_name(cx, "pdu_type", pdu_name);
    size_t at = pdu.value;
    if (type == 4) {
        tlv enterprise = expect(m, at, pdu.end(), 0x06, "expected the enterprise OID");
        field(cx, "enterprise", ", Enterprise: %s\n", oid_text(m, enterprise).c_str());
        tlv agent = expect(m, enterprise.end(), pdu.end(), 0x40, "expected the agent address");
        if (agent.length != 4) throw malformed_message{"agent address not 4 bytes"};
        field(cx, "agent", "  Agent: %s", ipv4_text(cx, m.at(agent.value, 4)));
        tlv generic = expect(m, agent.end(), pdu.end(), 0x02, "expected the generic trap");
        long long g = integer_value(m, generic);
        field(cx, "generic_trap", ", Generic trap: %ld", static_cast<long>(g));
        print_name(cx, "generic_trap", g >= 0 && g < 7 ? generic_traps[g] : "unknown");
        tlv specific = expect(m, generic.end(), pdu.end(), 0x02, "expected the specific trap");
        field(cx, "specific_trap", ", Specific trap: %ld", static_cast<long>(integer_value(m, specific)));
        tlv stamp = expect(m, specific.end(), pdu.end(), 0x43, "expected the time stamp");
        field(cx, "timestamp", ", Time stamp: %lu\n", static_cast<unsigned long>(unsigned_value(m, stamp)));
        at = stamp.end();
    } else {
        tlv id = expect(m, at, pdu.end(), 0x02, "expected the request id");
        tlv status = expect(m, id.end(), pdu.end(), 0x02, "expected the error status");
        tlv index = expect(m, status.end(), pdu.end(), 0x02, "expected the error index");
        field(cx, "request_id", ", Request ID: %ld\n", static_cast<long>(integer_value(m, id)));
        long long s = integer_value(m, status);
        long long i = integer_value(m, index);
        if (type == 5) {
            // GetBulk reuses the two fields.
            field(cx, "non_repeaters", "  Non-repeaters: %ld", static_cast<long>(s));
            field(cx, "max_repetitions", ", Max repetitions: %ld\n", static_cast<long>(i));
        } else if (all || s || i) {
            field(cx, "error_status", "  Error status: %ld", static_cast<long>(s));
            print_name(cx, "error_status", s >= 0 && s < 19 ? error_statuses[s] : "unknown");
            field(cx, "error_index", ", Error index: %ld\n", static_cast<long>(i));
        }
        at = index.end();
    }
    std::string first = print_bindings(cx, m, at, pdu.end());
    summary_note(cx, "%s%s%s", pdu_name, first.empty() ? "" : " ", first.c_str());
}

}  // namespace

int decode_snmp(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    layer(cx, "snmp", "- SNMP Header -\n");
    bump(cx.counters.snmp);
    try {
        decode(cx, payload_message(cx, frame, offset));
    } catch (const malformed_message& e) {
        report_malformed(cx, e);
    }
    return 0;
}
