#include "decode/app/rtp.h"

#include <strings.h>

#include <arpa/inet.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "decode/app/message.h"
#include "decode/app/sessions.h"
#include "decode/decoder.h"

namespace {

// Packets of one compound RTCP datagram, report blocks, SDES items.
constexpr unsigned max_entries = 256;

// Static payload types (RFC 3551); 96 to 127 are dynamic, named by SDP.
constexpr code_name payload_types[] = {
    {0, "PCMU"},  {3, "GSM"},   {4, "G723"},   {5, "DVI4"}, {6, "DVI4"},  {7, "LPC"},   {8, "PCMA"},  {9, "G722"},
    {10, "L16"},  {11, "L16"},  {12, "QCELP"}, {13, "CN"},  {14, "MPA"},  {15, "G728"}, {16, "DVI4"}, {17, "DVI4"},
    {18, "G729"}, {25, "CelB"}, {26, "JPEG"},  {28, "nv"},  {31, "H261"}, {32, "MPV"},  {33, "MP2T"}, {34, "H263"},
};
constexpr code_name rtcp_types[] = {
    {200, "Sender Report"}, {201, "Receiver Report"},    {202, "Source Description"}, {203, "Goodbye"},
    {204, "Application"},   {205, "Transport Feedback"}, {206, "Payload Feedback"},   {207, "Extended Report"},
};
constexpr const char* sdes_items[] = {"END", "CNAME", "NAME", "EMAIL", "PHONE", "LOC", "TOOL", "NOTE", "PRIV"};

// What SDP announced for either end of the datagram.
const media_info* announced(decode_context& cx) {
    media_key key;
    for (bool destination : {true, false})
        if (endpoint_of(cx, destination, key))
            if (const media_info* info = find_media(cx, key)) return info;
    return nullptr;
}

bool plausible_payload_type(uint8_t pt) {
    // 72 to 76 would be RTCP packet types with the marker bit.
    return (pt <= 34 && strcmp(find_name(payload_types, pt, "?"), "?") != 0) || (pt >= 96 && pt <= 127);
}

// The RTCP packets fill the datagram exactly, the first a report.
bool rtcp_compound(decode_context& cx, const uint8_t* p, size_t n) {
    size_t have = captured_from(cx, p, n);
    if (have < 8 || have != n) return false;
    uint8_t first_type = get_u8(cx, p + 1);
    if ((get_u8(cx, p) >> 6) != 2 || (first_type != 200 && first_type != 201)) return false;
    size_t at = 0;
    for (unsigned k = 0; at < n && k < max_entries; ++k) {
        if (n - at < 4) return false;
        uint8_t type = get_u8(cx, p + at + 1);
        if ((get_u8(cx, p + at) >> 6) != 2 || type < 192 || type > 223) return false;
        at += 4 * (size_t{get_be16(cx, p + at + 2)} + 1);
    }
    return at == n;
}

bool even_high(uint16_t port) { return port >= 1024 && port % 2 == 0; }
bool odd_high(uint16_t port) { return port > 1024 && port % 2 == 1; }

std::string ssrc_text(uint32_t v) {
    char text[11];
    snprintf(text, sizeof text, "0x%08x", v);
    return text;
}

struct part : message_cursor {
    part(const message& packet, size_t from, size_t to)
        : message_cursor{packet, from, to, "a field runs past the end of its packet"} {}
};

void report_blocks(decode_context& cx, part& b, unsigned count) {
    for (unsigned i = 0; i < count; ++i) {
        uint32_t ssrc = b.be32();
        uint32_t lost = b.be32();
        uint32_t highest = b.be32(), jitter = b.be32(), lsr = b.be32(), dlsr = b.be32();
        item(cx, "reports");
        item_closer close(cx);
        field(cx, "ssrc", "    Report: SSRC %s", ssrc_text(ssrc));
        field(cx, "fraction_lost", ", Fraction Lost: %u", lost >> 24);
        // A 24-bit signed count.
        int32_t cumulative = static_cast<int32_t>(lost << 8) >> 8;
        field(cx, "packets_lost", ", Lost: %d", cumulative);
        field(cx, "highest_seq", ", Highest Seq: %u", highest);
        field(cx, "jitter", ", Jitter: %u", jitter);
        field(cx, "lsr", ", LSR: 0x%08x", lsr);
        field(cx, "dlsr", ", DLSR: %u\n", dlsr);
    }
}

void rtcp_packet(decode_context& cx, uint8_t type, unsigned count, part& b) {
    switch (type) {
        case 200: {
            uint32_t ssrc = b.be32();
            uint32_t ntp_high = b.be32(), ntp_low = b.be32();
            uint32_t timestamp = b.be32(), packets = b.be32(), octets = b.be32();
            field(cx, "sender_ssrc", "    Sender SSRC: %s", ssrc_text(ssrc));
            field(cx, "ntp_seconds", ", NTP: %u", ntp_high);
            field(cx, "ntp_fraction", ".%08x", ntp_low);
            field(cx, "rtp_timestamp", ", RTP Timestamp: %u", timestamp);
            field(cx, "sender_packets", ", Packets: %u", packets);
            field(cx, "sender_octets", ", Octets: %u\n", octets);
            report_blocks(cx, b, count);
            return;
        }
        case 201:
            field(cx, "sender_ssrc", "    Sender SSRC: %s\n", ssrc_text(b.be32()));
            report_blocks(cx, b, count);
            return;
        case 202: {
            size_t start = b.at;
            for (unsigned i = 0; i < count && b.left() >= 4; ++i) {
                field(cx, "chunk_ssrc", "    Chunk: SSRC %s\n", ssrc_text(b.be32()));
                for (unsigned k = 0; b.left() && k < max_entries; ++k) {
                    uint8_t item_type = b.u8();
                    if (item_type == 0) {
                        // The chunk ends with zeros up to a 32-bit boundary.
                        while ((b.at - start) % 4 && b.left()) b.at++;
                        break;
                    }
                    uint8_t length = b.u8();
                    std::string value = printable_text(cx, b.take(length), length);
                    item(cx, "sdes");
                    item_closer close(cx);
                    field(cx, "item_name", "    %s", dense_name(sdes_items, item_type, "unknown"));
                    record_number(cx, "item", item_type);
                    field(cx, "value", ": %s\n", value);
                }
            }
            return;
        }
        case 203: {
            for (unsigned i = 0; i < count; ++i) {
                std::string ssrc = ssrc_text(b.be32());
                zelk_printf(cx.out, "    SSRC: %s\n", ssrc.c_str());
                list_text(cx, "ssrcs", ssrc.c_str());
            }
            if (b.left()) {
                uint8_t length = b.u8();
                field(cx, "reason", "    Reason: %s\n", printable_text(cx, b.take(length), length));
            }
            return;
        }
        case 204: {
            field(cx, "sender_ssrc", "    SSRC: %s", ssrc_text(b.be32()));
            field(cx, "app_name", ", Name: %s", printable_text(cx, b.take(4), 4));
            field(cx, "app_data_length", ", Data: %lu bytes\n", static_cast<unsigned long>(b.left()));
            return;
        }
        default:
            if (b.left() >= 4) field(cx, "sender_ssrc", "    SSRC: %s\n", ssrc_text(b.be32()));
            return;
    }
}

}  // namespace

bool looks_like_rtcp(decode_context& cx, const uint8_t* payload, size_t length) {
    const media_info* info = announced(cx);
    if (info && !info->rtcp) return false;
    if (!info && !odd_high(cx.source_port) && !odd_high(cx.destination_port)) return false;
    return rtcp_compound(cx, payload, length);
}

bool looks_like_rtp(decode_context& cx, const uint8_t* payload, size_t length) {
    const media_info* info = announced(cx);
    if (info && info->rtcp) return false;
    if (!info && !(even_high(cx.source_port) && even_high(cx.destination_port))) return false;
    size_t have = captured_from(cx, payload, length);
    if (have < 12) return false;
    uint8_t first = get_u8(cx, payload);
    if ((first >> 6) != 2) return false;
    size_t header = 12 + 4u * (first & 0x0f);
    if (header > length) return false;
    if ((first & 0x20) && have == length) {
        uint8_t padding = get_u8(cx, payload + length - 1);
        if (padding == 0 || padding > length - header) return false;
    }
    return info || plausible_payload_type(get_u8(cx, payload + 1) & 0x7f);
}

// The event names of DTMF digits (RFC 4733 3.2).
constexpr const char* dtmf_events[] = {"0", "1", "2", "3", "4", "5", "6", "7",
                                       "8", "9", "*", "#", "A", "B", "C", "D"};

void telephone_event(decode_context& cx, const message& m, size_t at) {
    layer(cx, "rtp_event", "  - RTP Event -\n");
    uint8_t event = m.u8(at), flags = m.u8(at + 1);
    field(cx, "event", "    Event: %u", event);
    print_name(cx, "event", event < 16 ? dtmf_events[event] : "unknown");
    field(cx, "end", ", End: %u", flags >> 7);
    field(cx, "volume", ", Volume: %u", flags & 0x3fu);
    field(cx, "duration", ", Duration: %u\n", m.be16(at + 2));
}

int decode_rtp(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    layer(cx, "rtp", "- RTP -\n");
    bump(cx.counters.rtp);
    message m = payload_message(cx, frame, offset);
    try {
        uint8_t first = m.u8(0), second = m.u8(1);
        unsigned count = first & 0x0f, type = second & 0x7fu;
        uint16_t sequence = m.be16(2);
        uint32_t timestamp = m.be32(4), ssrc = m.be32(8);
        const char* name = find_name(payload_types, type, type >= 96 ? "dynamic" : "unknown");
        // Each end's SDP names the formats it takes: the type may be in
        // either (the answer may have dropped one the sender still uses).
        media_key key;
        bool named = false;
        for (bool destination : {true, false}) {
            const media_info* info = endpoint_of(cx, destination, key) ? find_media(cx, key) : nullptr;
            if (!info || named) continue;
            for (const auto& [pt, encoding] : info->formats)
                if (pt == type) {
                    name = encoding.c_str();
                    named = true;
                }
        }
        if (expanded(false)) {
            field(cx, "version", "  Version: %u", first >> 6);
            field(cx, "padding", ", Padding: %u", (first >> 5) & 1u);
            field(cx, "extension", ", Extension: %u", (first >> 4) & 1u);
            field(cx, "csrc_count", ", CSRC Count: %u", count);
            field(cx, "marker", ", Marker: %u\n", second >> 7);
        }
        field(cx, "payload_type", "  Payload Type: %u", type);
        print_name(cx, "payload_type", name);
        field(cx, "seq", ", Sequence: %u", sequence);
        field(cx, "timestamp", ", Timestamp: %u", timestamp);
        field(cx, "ssrc", ", SSRC: %s\n", ssrc_text(ssrc));
        size_t at = 12;
        for (unsigned i = 0; i < count; ++i, at += 4) {
            std::string csrc = ssrc_text(m.be32(at));
            zelk_printf(cx.out, "  CSRC: %s\n", csrc.c_str());
            list_text(cx, "csrcs", csrc.c_str());
        }
        if (first & 0x10) {
            uint16_t profile = m.be16(at), words = m.be16(at + 2);
            field(cx, "extension_profile", "  Extension: Profile 0x%04x", profile);
            field(cx, "extension_length", ", Length: %u\n", words * 4u);
            at += 4 + 4u * words;
        }
        size_t padding = (first & 0x20) && m.length > at ? m.u8(m.length - 1) : 0;
        if (at + padding > m.length) throw malformed_message{"the header runs past the datagram"};
        field(cx, "payload_length", "  Payload: %lu bytes\n", static_cast<unsigned long>(m.length - at - padding));
        summary_note(cx, "PT=%s SSRC=%s Seq=%u Time=%u%s", name, ssrc_text(ssrc).c_str(), sequence, timestamp,
                     second & 0x80 ? " Mark" : "");
        // Telephone events (RFC 4733) where SDP named the payload type so.
        if (strncasecmp(name, "telephone-event", 15) == 0 && m.length - at - padding >= 4)
            telephone_event(cx, m, at);
    } catch (const malformed_message& e) {
        report_malformed(cx, e);
    }
    return 0;
}

int decode_rtcp(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    layer(cx, "rtcp", "- RTCP -\n");
    bump(cx.counters.rtcp);
    message m = payload_message(cx, frame, offset);
    std::string summary;
    try {
        size_t at = 0;
        for (unsigned n = 0; at < m.length && n < max_entries; ++n) {
            uint8_t first = m.u8(at), type = m.u8(at + 1);
            size_t length = 4 * (size_t{m.be16(at + 2)} + 1);
            if (length > m.length - at) throw malformed_message{"a packet runs past the datagram"};
            unsigned count = first & 0x1fu;
            const char* name = find_name(rtcp_types, type, "unknown");
            item(cx, "packets");
            item_closer close(cx);
            field(cx, "type", "  Type: %u", type);
            print_name(cx, "type", name);
            field(cx, "count", ", Count: %u", count);
            field(cx, "length", ", Length: %lu\n", static_cast<unsigned long>(length));
            size_t padding = (first & 0x20) ? m.u8(at + length - 1) : 0;
            if (padding > length - 4) throw malformed_message{"padding longer than its packet"};
            part b{m, at + 4, at + length - padding};
            rtcp_packet(cx, type, count, b);
            summary += summary.empty() ? name : std::string(", ") + name;
            at += length;
        }
    } catch (const malformed_message& e) {
        report_malformed(cx, e);
    }
    if (!summary.empty()) summary_note(cx, "%s", summary.c_str());
    return 0;
}

void announce_sdp_media(decode_context& cx, const std::string& address, unsigned port,
                        const std::vector<std::pair<uint8_t, std::string>>& formats) {
    media_key key;
    if (inet_pton(AF_INET, address.c_str(), key.address.data()) != 1 &&
        inet_pton(AF_INET6, address.c_str(), key.address.data()) != 1)
        return;
    if (port == 0 || port > 65534) return;
    key.port = static_cast<uint16_t>(port);
    announce_media(cx, key, media_info{false, formats});
    key.port = static_cast<uint16_t>(port + 1);
    announce_media(cx, key, media_info{true, {}});
}
