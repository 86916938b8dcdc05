#include "decode/app/mqtt.h"

#include <string>

#include "decode/app/app_text.h"
#include "decode/app/message.h"
#include "decode/app/sessions.h"
#include "decode/decoder.h"

namespace {

constexpr const char* types[] = {
    "Reserved",  "CONNECT", "CONNACK",     "PUBLISH",  "PUBACK",  "PUBREC",   "PUBREL",     "PUBCOMP",
    "SUBSCRIBE", "SUBACK",  "UNSUBSCRIBE", "UNSUBACK", "PINGREQ", "PINGRESP", "DISCONNECT", "AUTH",
};
// Several small packets often share a segment.
constexpr unsigned max_packets = 256;

// A two-byte length and that many bytes of UTF-8.
std::string utf8_string(decode_context& cx, const message& m, size_t& at, size_t end) {
    if (at + 2 > end) throw malformed_message{"a string runs past its packet"};
    size_t n = m.be16(at);
    if (at + 2 + n > end) throw malformed_message{"a string runs past its packet"};
    std::string text = printable_text(cx, m.at(at + 2, n), n);
    at += 2 + n;
    return text;
}

// The variable-length integer of the fixed header: at most four bytes.
size_t remaining_length(const message& m, size_t& at) {
    size_t value = 0;
    for (unsigned i = 0; i < 4; ++i) {
        uint8_t b = m.u8(at++);
        value |= size_t{b & 0x7fu} << (7 * i);
        if (!(b & 0x80)) return value;
    }
    throw malformed_message{"remaining length longer than four bytes"};
}

// Version 5 properties: their length, skipped.
void skip_properties(decode_context& cx, const message& m, size_t& at, size_t end) {
    size_t length = remaining_length(m, at);
    if (at + length > end) throw malformed_message{"properties run past the packet"};
    field(cx, "properties_length", ", Properties: %lu bytes", static_cast<unsigned long>(length));
    at += length;
}

void connect_fields(decode_context& cx, const message& m, size_t at, size_t end) {
    std::string name = utf8_string(cx, m, at, end);
    if (at + 4 > end) throw malformed_message{"CONNECT header runs past its packet"};
    uint8_t level = m.u8(at), flags = m.u8(at + 1);
    field(cx, "protocol_name", "  Protocol: %s", name);
    field(cx, "protocol_level", ", Level: %u", level);
    print_name(cx, "protocol_level", level == 4 ? "3.1.1" : level == 5 ? "5.0" : level == 3 ? "3.1" : "unknown");
    field(cx, "connect_flags", ", Connect Flags: 0x%02x", flags);
    field(cx, "keep_alive", ", Keep Alive: %u", m.be16(at + 2));
    at += 4;
    // The level holds for the rest of the connection, both ways.
    note_connection(cx, level);
    if (level == 5) skip_properties(cx, m, at, end);
    zelk_printf(cx.out, "\n");
    std::string client = utf8_string(cx, m, at, end);
    field(cx, "client_id", "  Client ID: %s", client);
    summary_note(cx, "CONNECT %s", client.c_str());
    // The payload goes on with the will, the user name and the password,
    // each there when its flag is set.
    if (flags & 0x04) {
        if (level == 5) {
            size_t length = remaining_length(m, at);
            if (at + length > end) throw malformed_message{"will properties run past the packet"};
            at += length;
        }
        field(cx, "will_topic", ", Will Topic: %s", utf8_string(cx, m, at, end));
        if (at + 2 > end) throw malformed_message{"will message missing"};
        size_t n = m.be16(at);
        if (at + 2 + n > end) throw malformed_message{"will message runs past the packet"};
        field(cx, "will_length", ", Will Message: %lu bytes", static_cast<unsigned long>(n));
        at += 2 + n;
    }
    if (flags & 0x80) field(cx, "user_name", ", User Name: %s", utf8_string(cx, m, at, end));
    zelk_printf(cx.out, "\n");
}

void publish_fields(decode_context& cx, const message& m, size_t at, size_t end, unsigned flags, bool v5) {
    unsigned qos = (flags >> 1) & 3u;
    std::string topic = utf8_string(cx, m, at, end);
    field(cx, "topic", "  Topic: %s", topic);
    field(cx, "qos", ", QoS: %u", qos);
    if (flags & 1)
        field(cx, "retain", ", Retain: %u", 1u);
    else
        record_number(cx, "retain", 0);
    if (qos) {
        if (at + 2 > end) throw malformed_message{"packet identifier missing"};
        field(cx, "packet_id", ", Packet ID: %u", m.be16(at));
        at += 2;
    }
    // Version 5 properties come first (the version is known from the
    // connection's CONNECT: without it they count as payload).
    if (v5) skip_properties(cx, m, at, end);
    field(cx, "payload_length", ", Payload: %lu bytes\n", static_cast<unsigned long>(end - at));
    summary_note(cx, "PUBLISH %s", topic.c_str());
}

// SUBSCRIBE and UNSUBSCRIBE: the packet id, (version 5) properties, then
// the topic filters, each with its requested QoS when subscribing.
void subscribe_fields(decode_context& cx, const message& m, size_t at, size_t end, bool subscribe, bool v5) {
    field(cx, "packet_id", "  Packet ID: %u", m.be16(at));
    at += 2;
    if (v5) skip_properties(cx, m, at, end);
    zelk_printf(cx.out, "\n");
    for (unsigned n = 0; at < end && n < max_packets; ++n) {
        std::string topic = utf8_string(cx, m, at, end);
        item(cx, "subscriptions");
        item_closer close(cx);
        field(cx, "topic", "    Topic: %s", topic);
        if (subscribe) {
            if (at >= end) throw malformed_message{"subscription options missing"};
            // Version 5 adds retain handling, retain as published and
            // no local to the QoS.
            if (v5) field(cx, "options", ", Options: 0x%02x", m.u8(at));
            field(cx, "requested_qos", ", QoS: %u", m.u8(at) & 3u);
            ++at;
        }
        zelk_printf(cx.out, "\n");
    }
}

// SUBACK and UNSUBACK: the packet id, (version 5) properties, a code per
// topic filter: the granted QoS (or 0x80, failure) of version 3.1.1, the
// reason codes of version 5.
void suback_fields(decode_context& cx, const message& m, size_t at, size_t end, bool v5) {
    field(cx, "packet_id", "  Packet ID: %u", m.be16(at));
    at += 2;
    if (v5) skip_properties(cx, m, at, end);
    zelk_printf(cx.out, "\n");
    for (unsigned n = 0; at < end && n < max_packets; ++n, ++at) {
        uint8_t code = m.u8(at);
        if (v5) {
            zelk_printf(cx.out, "    Reason Code: %u\n", code);
            list_number(cx, "reason_codes", code);
        } else {
            zelk_printf(cx.out, "    Granted QoS: %u\n", code);
            list_number(cx, "granted_qos", code);
        }
    }
}

}  // namespace

int decode_mqtt(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    layer(cx, "mqtt", "- MQTT -\n");
    bump(cx.counters.mqtt);
    message m = payload_message(cx, frame, offset);
    // A TCP segment may end inside a packet.
    m.continues = true;
    size_t at = 0;
    bool v5 = connection_note(cx) == 5;
    try {
        for (unsigned n = 0; at < m.length && n < max_packets; ++n) {
            uint8_t first = m.u8(at++);
            size_t length = remaining_length(m, at);
            size_t end = at + length;
            unsigned type = first >> 4, flags = first & 0x0fu;
            item(cx, "packets");
            item_closer close(cx);
            field(cx, "type", "  Type: %u", type);
            print_name(cx, "type", types[type]);
            field(cx, "flags", ", Flags: 0x%x", flags);
            field(cx, "remaining_length", ", Remaining Length: %lu\n", static_cast<unsigned long>(length));
            if (n == 0) summary_note(cx, "%s", types[type]);
            bool whole = end <= m.length;
            if (type == 1 && whole) {
                connect_fields(cx, m, at, end);
                v5 = connection_note(cx) == 5;
            }
            if (type == 2 && whole && length >= 2) {
                field(cx, "session_present", "  Session Present: %u", m.u8(at) & 1u);
                if (v5) {
                    field(cx, "reason_code", ", Reason Code: %u", m.u8(at + 1));
                    size_t props = at + 2;
                    if (props < end) skip_properties(cx, m, props, end);
                    zelk_printf(cx.out, "\n");
                } else {
                    field(cx, "return_code", ", Return Code: %u\n", m.u8(at + 1));
                }
            }
            if (type == 3 && whole) publish_fields(cx, m, at, end, flags, v5);
            if ((type == 8 || type == 10) && whole && length >= 2) subscribe_fields(cx, m, at, end, type == 8, v5);
            if ((type == 9 || type == 11) && whole && length >= 2) suback_fields(cx, m, at, end, v5);
            if ((type >= 4 && type <= 7) && whole && length >= 2) {
                field(cx, "packet_id", "  Packet ID: %u", m.be16(at));
                // Version 5 acknowledgements of a publication may carry a
                // reason code (none: success).
                if (v5 && type <= 7 && length >= 3) field(cx, "reason_code", ", Reason Code: %u", m.u8(at + 2));
                zelk_printf(cx.out, "\n");
            }
            if (type == 14 && v5 && whole && length >= 1)
                field(cx, "reason_code", "  Reason Code: %u\n", m.u8(at));
            if (!whole) m.past_end();
            at = end;
        }
    } catch (const malformed_message& e) {
        report_malformed(cx, e);
    }
    return 0;
}
