#include "decode/app/quic.h"

#include <cstring>
#include <string>

#include "decode/app/app_text.h"
#include "decode/decoder.h"

namespace {

constexpr uint32_t version_1 = 0x00000001;
constexpr uint32_t version_2 = 0x6b3343cf;

const char* version_name(uint32_t version) {
    if (version == 0) return "Version Negotiation";
    if (version == version_1) return "QUIC v1";
    if (version == version_2) return "QUIC v2";
    if ((version & 0xffffff00) == 0xff000000) return "draft";
    if ((version & 0x0f0f0f0f) == 0x0a0a0a0a) return "reserved";
    return "unknown";
}

// Long packet types; version 2 numbers them differently.
const char* type_name(uint32_t version, unsigned type) {
    static constexpr const char* v1[] = {"Initial", "0-RTT", "Handshake", "Retry"};
    static constexpr const char* v2[] = {"Retry", "Initial", "0-RTT", "Handshake"};
    return version == version_2 ? v2[type & 3] : v1[type & 3];
}

// A variable-length integer: two bits of length, then the value.
uint64_t varint(bounded& b) {
    uint8_t first = b.u8();
    unsigned extra = (1u << (first >> 6)) - 1;
    uint64_t v = first & 0x3f;
    for (unsigned i = 0; i < extra; ++i) v = (v << 8) | b.u8();
    return v;
}

void print_hex(decode_context& cx, const uint8_t* p, size_t n) {
    need(cx, p, n);
    for (size_t i = 0; i < n; ++i) zelk_printf(cx.out, "%02x", p[i]);
}

std::string hex_text(decode_context& cx, const uint8_t* p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    need(cx, p, n);
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s.push_back(digits[p[i] >> 4]);
        s.push_back(digits[p[i] & 15]);
    }
    return s;
}

// The two ends of the datagram: the innermost IP header's addresses and the
// UDP header's ports, just in front of the payload.
struct udp_ends {
    bool known = false;
    quic_endpoint from{}, to{};
};

udp_ends ends_of(decode_context& cx, const uint8_t* payload) {
    udp_ends ends;
    if (cx.pseudo.version != 4 && cx.pseudo.version != 6) return ends;
    if (payload - 8 < cx.start) return ends;
    const uint8_t* udp = payload - 8;
    size_t n = cx.pseudo.version == 4 ? 4 : 16;
    memcpy(ends.from.address.data(), cx.pseudo.source, n);
    memcpy(ends.to.address.data(), cx.pseudo.destination, n);
    ends.from.port = get_be16(cx, udp);
    ends.to.port = get_be16(cx, udp + 2);
    ends.known = true;
    return ends;
}

// One long-header packet; returns false when nothing can follow it in the
// datagram.
bool decode_long_packet(decode_context& cx, bounded& datagram, bool all, std::string& note, const udp_ends& ends) {
    uint8_t first = datagram.u8();
    uint32_t version = datagram.be32();
    unsigned type = (first >> 4) & 3;
    item(cx, "packets");
    field(cx, "header_form", "\n  Header Form: %u (Long)", 1u);
    if (version != 0) {
        field(cx, "packet_type", ", Packet Type: %u", type);
        print_name(cx, "packet_type", type_name(version, type));
    }
    if (all) field(cx, "fixed_bit", ", Fixed Bit: %u", (first >> 6) & 1u);
    field(cx, "version", "\n  Version: 0x%08x", version);
    print_name(cx, "version", version_name(version));
    uint8_t dcid_length = datagram.u8();
    const uint8_t* dcid = datagram.take(dcid_length);
    uint8_t scid_length = datagram.u8();
    const uint8_t* scid = datagram.take(scid_length);
    if (ends.known) cx.quic_ids.learn(ends.from, ends.to, dcid, dcid_length, scid, scid_length, cx.reassembly.now_us);
    std::string dcid_text = hex_text(cx, dcid, dcid_length);
    field(cx, "dcid_length", "\n  DCID Length: %u", dcid_length);
    if (dcid_length) field(cx, "dcid", ", DCID: %s", dcid_text.c_str());
    std::string scid_text = hex_text(cx, scid, scid_length);
    field(cx, "scid_length", "\n  SCID Length: %u", scid_length);
    if (scid_length) field(cx, "scid", ", SCID: %s", scid_text.c_str());
    if (!note.empty()) note += ", ";
    if (version) note += std::string(type_name(version, type)) + " ";
    note += std::string(version_name(version)) + " DCID " + dcid_text;
    if (version == 0) {
        zelk_printf(cx.out, "\n  Supported Versions:");
        while (datagram.left() >= 4) {
            uint32_t v = datagram.be32();
            zelk_printf(cx.out, " 0x%08x", v);
            list_number(cx, "supported_versions", v);
        }
        item_end(cx);
        return false;
    }
    if (version != version_1 && version != version_2) {
        // Only the invariant fields are known for other versions.
        field(cx, "unknown_length", "\n  Unknown data: %lu bytes", static_cast<long>(datagram.left()));
        item_end(cx);
        return false;
    }
    const char* name = type_name(version, type);
    if (name[0] == 'R') {  // Retry: token, then the 16-byte integrity tag
        size_t token = datagram.left() >= 16 ? datagram.left() - 16 : 0;
        field(cx, "token_length", "\n  Retry Token Length: %lu", static_cast<long>(token));
        item_end(cx);
        return false;
    }
    if (name[0] == 'I') {
        uint64_t token_length = varint(datagram);
        field(cx, "token_length", "\n  Token Length: %lu", static_cast<long>(token_length));
        datagram.take(static_cast<size_t>(token_length));
        if (all && token_length) {
            zelk_printf(cx.out, ", Token: ");
            print_hex(cx, datagram.p - token_length, static_cast<size_t>(token_length));
        }
    }
    uint64_t length = varint(datagram);
    field(cx, "length", "\n  Length: %lu (protected payload)", static_cast<long>(length));
    item_end(cx);
    // Packets of one datagram may be coalesced behind each other.
    if (length > datagram.left()) {
        zelk_printf(cx.out, "\n  [malformed: the packet runs past the datagram]");
        record_text(cx, "error", "the packet runs past the datagram");
        return false;
    }
    datagram.take(static_cast<size_t>(length));
    return true;
}

}  // namespace

bool looks_like_quic_long(decode_context&, const uint8_t* payload, size_t length) {
    if (length < 7 || (payload[0] & 0xc0) != 0xc0) return false;
    uint32_t version =
        (uint32_t{payload[1]} << 24) | (uint32_t{payload[2]} << 16) | (uint32_t{payload[3]} << 8) | payload[4];
    return version != 0 && strcmp(version_name(version), "unknown") && payload[5] <= 20;
}

int decode_quic(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    const uint8_t* p = header_at(cx, frame, offset);
    bounded datagram{&cx, p, ip_payload_end(cx)};
    layer(cx, "quic", "- QUIC Packet -");
    bump(cx.counters.quic);
    bool all = expanded(settings.expand_all);
    std::string note;
    udp_ends ends = ends_of(cx, p);
    try {
        while (datagram.left()) {
            uint8_t first = get_u8(cx, datagram.p);
            if ((first & 0x40) == 0 && !note.empty()) {
                // Behind a coalesced packet: padding, or not QUIC.
                field(cx, "unknown_length", "\n  Unknown data: %lu bytes", static_cast<long>(datagram.left()));
                break;
            }
            if (!(first & 0x80)) {
                // The short header does not say how long its connection
                // id is: only an id its receiver chose in a long header of
                // the same flow tells.
                quic_connection_id dcid;
                bool known = ends.known && cx.quic_ids.match(ends.from, ends.to, datagram.p + 1, datagram.left() - 1,
                                                             cx.reassembly.now_us, dcid);
                item(cx, "packets");
                field(cx, "header_form", "\n  Header Form: %u (Short, 1-RTT)", 0u);
                if (all) field(cx, "fixed_bit", ", Fixed Bit: %u", (first >> 6) & 1u);
                std::string dcid_text;
                if (known) {
                    dcid_text = hex_text(cx, datagram.p + 1, dcid.length);
                    field(cx, "dcid_length", "\n  DCID Length: %u (learned)", unsigned{dcid.length});
                    if (dcid.length) field(cx, "dcid", ", DCID: %s", dcid_text.c_str());
                }
                field(cx, "length", "\n  Protected: %lu bytes", static_cast<long>(datagram.left()));
                item_end(cx);
                if (!note.empty()) note += ", ";
                note += "1-RTT";
                if (known && dcid.length) note += " DCID " + dcid_text;
                break;
            }
            if (!decode_long_packet(cx, datagram, all, note, ends)) break;
        }
    } catch (const overrun&) {
        zelk_printf(cx.out, "\n  [malformed: a length runs past the datagram]");
        record_text(cx, "error", "a length runs past the datagram");
    }
    zelk_printf(cx.out, "\n");
    if (settings.summary) summary_note(cx, "%s", note.c_str());
    return 0;
}
