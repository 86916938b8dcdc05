#include "decode/app/dns.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "decode/app/message.h"
#include "decode/decoder.h"
#include "decode/ip/ipv4.h"

namespace {

enum class dns_kind { unicast, multicast, link_local };

constexpr code_name record_types[] = {
    {1, "A"},      {2, "NS"},     {5, "CNAME"},   {6, "SOA"},    {12, "PTR"},   {13, "HINFO"}, {15, "MX"},
    {16, "TXT"},   {28, "AAAA"},  {33, "SRV"},    {35, "NAPTR"}, {39, "DNAME"}, {41, "OPT"},   {43, "DS"},
    {46, "RRSIG"}, {47, "NSEC"},  {48, "DNSKEY"}, {50, "NSEC3"}, {64, "SVCB"},  {65, "HTTPS"}, {99, "SPF"},
    {251, "IXFR"}, {252, "AXFR"}, {255, "ANY"},   {257, "CAA"},
};
constexpr code_name classes[] = {{1, "IN"}, {3, "CH"}, {4, "HS"}, {254, "NONE"}, {255, "ANY"}};
constexpr code_name opcodes[] = {{0, "Query"}, {1, "IQuery"}, {2, "Status"}, {4, "Notify"}, {5, "Update"}};
constexpr code_name rcodes[] = {
    {0, "NoError"},  {1, "FormErr"}, {2, "ServFail"}, {3, "NXDomain"}, {4, "NotImp"},   {5, "Refused"},
    {6, "YXDomain"}, {7, "YXRRSet"}, {8, "NXRRSet"},  {9, "NotAuth"},  {10, "NotZone"},
};
constexpr code_name edns_options[] = {
    {3, "NSID"},           {8, "Client subnet"}, {9, "Expire"},          {10, "Cookie"},
    {11, "TCP keepalive"}, {12, "Padding"},      {15, "Extended error"},
};
constexpr code_name svc_params[] = {
    {0, "mandatory"}, {1, "alpn"}, {2, "no-default-alpn"}, {3, "port"}, {4, "ipv4hint"}, {5, "ech"}, {6, "ipv6hint"},
};

const char* type_name(uint16_t type) { return find_name(record_types, type, "unknown"); }

// Flag bits of the second header word, most significant first.
struct flag_bit {
    uint16_t mask;
    const char* name;
};
constexpr flag_bit unicast_flags[] = {{0x8000, "QR"}, {0x0400, "AA"}, {0x0200, "TC"}, {0x0100, "RD"},
                                      {0x0080, "RA"}, {0x0020, "AD"}, {0x0010, "CD"}};
// LLMNR reuses the bits: C(onflict), TC, T(entative).
constexpr flag_bit link_local_flags[] = {{0x8000, "QR"}, {0x0400, "C"}, {0x0200, "TC"}, {0x0100, "T"}};

// A name is at most 255 bytes; a chain of pointers longer than this is a
// loop (real encoders point at most a few times).
constexpr unsigned max_pointer_jumps = 64;

struct dns_decoder {
    decode_context& cx;
    const message& m;
    dns_kind kind;
    std::string name;
    std::string target;
    bool reported = false;  // decode() said the message is malformed

    // Reads the (possibly compressed) name at offset into out; returns
    // the offset behind it in the record.
    size_t read_name(size_t offset, std::string& out) const {
        out.clear();
        size_t end = 0;
        bool jumped = false;
        unsigned jumps = 0;
        size_t name_length = 1;
        for (;;) {
            uint8_t length = m.u8(offset);
            if ((length & 0xc0) == 0xc0) {
                size_t pointer = static_cast<size_t>(length & 0x3f) << 8 | m.u8(offset + 1);
                if (!jumped) end = offset + 2;
                jumped = true;
                if (++jumps > max_pointer_jumps) throw malformed_message{"compression pointers loop"};
                if (pointer >= m.length && !m.cut)
                    throw malformed_message{"compression pointer past the end of the message"};
                offset = pointer;
                continue;
            }
            if (length & 0xc0) throw malformed_message{"unknown label type"};
            if (length == 0) {
                if (!jumped) end = offset + 1;
                break;
            }
            name_length += length + 1u;
            if (name_length > 255) throw malformed_message{"name longer than 255 bytes"};
            std::string label = printable_text(cx, m.at(offset + 1, length), length);
            if (!out.empty()) out += '.';
            out += label;
            offset += 1u + length;
        }
        if (out.empty()) out = "<Root>";
        return end;
    }

    // Why the name at offset cannot be read, without reading past the
    // captured bytes and without throwing; nullptr when it looks fine (or
    // when only read_name can tell, which then reports it). Much traffic on
    // the DNS ports is no DNS at all, and its first name already fails: it
    // is recognised here without the cost of unwinding.
    const char* first_label_problem(size_t offset) const {
        if (offset >= m.length || !in_frame(cx, m.start + offset, 1)) return nullptr;
        uint8_t length = m.start[offset];
        if ((length & 0xc0) == 0x40 || (length & 0xc0) == 0x80) return "unknown label type";
        return nullptr;
    }

    // A name inside record data must end inside it.
    size_t read_data_name(size_t offset, size_t data_end, std::string& out) const {
        size_t end = read_name(offset, out);
        if (end > data_end) throw malformed_message{"a name runs past its record"};
        return end;
    }

    void print_flags(uint16_t flags) const {
        zelk_printf(cx.out, "  Flags: 0x%04x", flags);
        record_number(cx, "flags", flags);
        zelk_printf(cx.out, " (");
        const char* separator = "";
        auto show = [&](const flag_bit& bit) {
            if (!(flags & bit.mask)) return;
            zelk_printf(cx.out, "%s%s", separator, bit.name);
            list_text(cx, "flags_name", bit.name);
            separator = " ";
        };
        if (kind == dns_kind::link_local)
            for (const auto& bit : link_local_flags) show(bit);
        else
            for (const auto& bit : unicast_flags) show(bit);
        zelk_printf(cx.out, ")\n");
    }

    uint16_t print_question(size_t& at) {
        at = read_name(at, name);
        uint16_t type = m.be16(at);
        uint16_t query_class = m.be16(at + 2);
        at += 4;
        item(cx, "questions");
        item_closer close(cx);
        zelk_printf(cx.out, "  Question: ");
        field(cx, "name", "%s", name.c_str());
        field(cx, "type", ", Type: %u", type);
        print_name(cx, "type", type_name(type));
        if (expanded(settings.expand_all)) {
            uint16_t number = kind == dns_kind::multicast ? query_class & 0x7fff : query_class;
            field(cx, "class", ", Class: %u", number);
            print_name(cx, "class", find_name(classes, number, "unknown"));
            if (kind == dns_kind::multicast) {
                bool unicast = query_class & 0x8000;
                record_flag(cx, "unicast_response", unicast);
                if (unicast) zelk_printf(cx.out, ", Unicast response");
            }
        }
        zelk_printf(cx.out, "\n");
        return type;
    }

    void print_opt(uint16_t udp_size, uint32_t ttl, size_t data, size_t data_end) {
        field(cx, "udp_payload_size", "    UDP payload size: %u", udp_size);
        field(cx, "extended_rcode", ", Extended rcode: %u", ttl >> 24);
        field(cx, "edns_version", ", Version: %u", (ttl >> 16) & 0xff);
        field(cx, "dnssec_ok", ", DO: %u\n", (ttl >> 15) & 1);
        for (size_t at = data; at < data_end;) {
            uint16_t code = m.be16(at);
            uint16_t length = m.be16(at + 2);
            if (at + 4 + length > data_end) throw malformed_message{"an EDNS option runs past its record"};
            item(cx, "options");
            item_closer close(cx);
            field(cx, "code", "    Option: %u", code);
            print_name(cx, "code", find_name(edns_options, code, "unknown"));
            field(cx, "length", ", Length: %u\n", length);
            record_hex(cx, "data", m.at(at + 4, length), length);
            at += 4u + length;
        }
    }

    void print_service_binding(size_t data, size_t data_end) {
        field(cx, "priority", "    Priority: %u", m.be16(data));
        size_t at = read_data_name(data + 2, data_end, target);
        field(cx, "target", ", Target: %s\n", target.c_str());
        while (at < data_end) {
            uint16_t key = m.be16(at);
            uint16_t length = m.be16(at + 2);
            size_t value = at + 4;
            if (value + length > data_end) throw malformed_message{"a service parameter runs past its record"};
            item(cx, "params");
            item_closer close(cx);
            field(cx, "key", "    Param: %u", key);
            print_name(cx, "key", find_name(svc_params, key, "unknown"));
            field(cx, "length", ", Length: %u", length);
            if (key == 1) {
                zelk_printf(cx.out, ", Protocols: ");
                for (size_t p = value; p < value + length;) {
                    uint8_t n = m.u8(p);
                    if (p + 1 + n > value + length) throw malformed_message{"an ALPN name runs past its parameter"};
                    std::string id = printable_text(cx, m.at(p + 1, n), n);
                    zelk_printf(cx.out, "%s%s", p == value ? "" : ",", id.c_str());
                    list_text(cx, "alpn", id.c_str());
                    p += 1u + n;
                }
            } else if (key == 3 && length == 2) {
                field(cx, "port", ", Port: %u", m.be16(value));
            } else if ((key == 4 && length % 4 == 0) || (key == 6 && length % 16 == 0)) {
                zelk_printf(cx.out, ", Addresses: ");
                unsigned size = key == 4 ? 4 : 16;
                for (size_t p = value; p < value + length; p += size) {
                    auto text = size == 4 ? ipv4_text(cx, m.at(p, 4)) : ipv6_text(cx, m.at(p, 16));
                    zelk_printf(cx.out, "%s%s", p == value ? "" : ", ", text.c_str());
                    list_text(cx, "addresses", text);
                }
            }
            zelk_printf(cx.out, "\n");
            at = value + length;
        }
    }

    // The data of one record; `target` gets its short text for the summary.
    void print_data(uint16_t type, size_t data, uint16_t length) {
        size_t data_end = data + length;
        target.clear();
        if (type == 1 && length == 4) {
            target = ipv4_text(cx, m.at(data, 4));
            field(cx, "address", "    Address: %s\n", target.c_str());
        } else if (type == 28 && length == 16) {
            target = ipv6_text(cx, m.at(data, 16));
            field(cx, "address", "    Address: %s\n", target.c_str());
        } else if (type == 2 || type == 5 || type == 12 || type == 39) {
            read_data_name(data, data_end, target);
            field(cx, "target", "    Name: %s\n", target.c_str());
        } else if (type == 15) {
            field(cx, "preference", "    Preference: %u", m.be16(data));
            read_data_name(data + 2, data_end, target);
            field(cx, "target", ", Exchange: %s\n", target.c_str());
        } else if (type == 16) {
            for (size_t at = data; at < data_end;) {
                uint8_t n = m.u8(at);
                if (at + 1 + n > data_end) throw malformed_message{"a text string runs past its record"};
                std::string text = printable_text(cx, m.at(at + 1, n), n);
                zelk_printf(cx.out, "    Text: \"%s\"\n", text.c_str());
                list_text(cx, "texts", text.c_str());
                at += 1u + n;
            }
        } else if (type == 6) {
            std::string mailbox;
            size_t at = read_data_name(data, data_end, target);
            at = read_data_name(at, data_end, mailbox);
            if (at + 20 > data_end) throw malformed_message{"SOA record too short"};
            field(cx, "primary", "    Primary: %s", target.c_str());
            field(cx, "mailbox", ", Mailbox: %s\n", mailbox.c_str());
            field(cx, "serial", "    Serial: %u", m.be32(at));
            field(cx, "refresh", ", Refresh: %u", m.be32(at + 4));
            field(cx, "retry", ", Retry: %u", m.be32(at + 8));
            field(cx, "expire", ", Expire: %u", m.be32(at + 12));
            field(cx, "minimum", ", Minimum: %u\n", m.be32(at + 16));
        } else if (type == 33 && length >= 7) {
            field(cx, "priority", "    Priority: %u", m.be16(data));
            field(cx, "weight", ", Weight: %u", m.be16(data + 2));
            field(cx, "port", ", Port: %u", m.be16(data + 4));
            read_data_name(data + 6, data_end, target);
            field(cx, "target", ", Target: %s\n", target.c_str());
        } else if ((type == 64 || type == 65) && length >= 3) {
            print_service_binding(data, data_end);
        } else {
            field(cx, "data_length", "    Data: %u bytes\n", length);
            record_hex(cx, "data", m.at(data, length), length);
        }
    }

    // One resource record; fills `name` (owner) and `target` (its data).
    uint16_t print_record(size_t& at, const char* label) {
        at = read_name(at, name);
        uint16_t type = m.be16(at);
        uint16_t record_class = m.be16(at + 2);
        uint32_t ttl = m.be32(at + 4);
        uint16_t length = m.be16(at + 8);
        size_t data = at + 10;
        zelk_printf(cx.out, "  %s: ", label);
        field(cx, "name", "%s", name.c_str());
        field(cx, "type", ", Type: %u", type);
        print_name(cx, "type", type_name(type));
        // OPT uses class and TTL for its own fields.
        if (type != 41 && expanded(settings.expand_all)) {
            uint16_t number = kind == dns_kind::multicast ? record_class & 0x7fff : record_class;
            field(cx, "class", ", Class: %u", number);
            print_name(cx, "class", find_name(classes, number, "unknown"));
            if (kind == dns_kind::multicast) {
                bool flush = record_class & 0x8000;
                record_flag(cx, "cache_flush", flush);
                if (flush) zelk_printf(cx.out, ", Cache flush");
            }
            field(cx, "ttl", ", TTL: %u", ttl);
            field(cx, "length", ", Length: %u", length);
        }
        zelk_printf(cx.out, "\n");
        m.at(data, length);
        if (type == 41)
            print_opt(record_class, ttl, data, data + length);
        else
            print_data(type, data, length);
        at = data + length;
        return type;
    }

    void decode() {
        uint16_t id = m.be16(0);
        uint16_t flags = m.be16(2);
        uint16_t counts[4] = {m.be16(4), m.be16(6), m.be16(8), m.be16(10)};
        bool response = flags & 0x8000;
        unsigned opcode = (flags >> 11) & 0xf;
        unsigned rcode = flags & 0xf;
        field(cx, "id", "  Transaction ID: 0x%04x", id);
        record_flag(cx, "response", response);
        zelk_printf(cx.out, response ? ", Response" : ", Query");
        field(cx, "opcode", ", Opcode: %u", opcode);
        print_name(cx, "opcode", find_name(opcodes, opcode, "unknown"));
        field(cx, "rcode", ", Rcode: %u", rcode);
        print_name(cx, "rcode", find_name(rcodes, rcode, "unknown"));
        zelk_printf(cx.out, "\n");
        if (expanded(settings.expand_all)) print_flags(flags);
        field(cx, "question_count", "  Questions: %u", counts[0]);
        field(cx, "answer_count", ", Answers: %u", counts[1]);
        field(cx, "authority_count", ", Authority: %u", counts[2]);
        field(cx, "additional_count", ", Additional: %u\n", counts[3]);

        size_t at = 12;
        if (counts[0]) {
            if (const char* problem = first_label_problem(at)) {
                report_malformed(cx, malformed_message{problem});
                reported = true;
                return;
            }
        }
        std::string question;
        uint16_t question_type = 0;
        for (unsigned i = 0; i < counts[0]; ++i) {
            uint16_t type = print_question(at);
            if (i == 0) {
                question = name;
                question_type = type;
            }
        }
        std::string answer_name, answer_data;
        uint16_t answer_type = 0;
        for (unsigned i = 0; i < counts[1]; ++i) {
            item(cx, "answers");
            item_closer close(cx);
            uint16_t type = print_record(at, "Answer");
            if (i == 0) {
                answer_type = type;
                answer_name = name;
                answer_data = target;
            }
        }
        for (unsigned i = 0; i < counts[2]; ++i) {
            item(cx, "authorities");
            item_closer close(cx);
            print_record(at, "Authority");
        }
        for (unsigned i = 0; i < counts[3]; ++i) {
            item(cx, "additionals");
            item_closer close(cx);
            print_record(at, "Additional");
        }
        if (!recording()) return;
        std::string asked = counts[0] ? std::string(type_name(question_type)) + "? " + question : "";
        if (!response)
            summary_note(cx, "query %s", asked.c_str());
        else if (counts[1])
            summary_note(cx, "response %s %s%s%s", type_name(answer_type), answer_name.c_str(),
                         answer_data.empty() ? "" : " ", answer_data.c_str());
        else
            summary_note(cx, "response %s%s%s", find_name(rcodes, rcode, "unknown"), asked.empty() ? "" : " ",
                         asked.c_str());
    }
};

void decode_message(decode_context& cx, const message& m, dns_kind kind) {
    dns_decoder d{cx, m, kind, {}, {}};
    try {
        d.decode();
        // The records counted in the header ended early; the rest (more
        // records, or padding) is in a later segment.
        if (m.continues && !d.reported) m.past_end();
    } catch (const malformed_message& e) {
        report_malformed(cx, e);
    }
}

int decode_udp_dns(decode_context& cx, const uint8_t* frame, unsigned offset, dns_kind kind, const char* proto,
                   const char* banner, uint32_t& counter) {
    layer(cx, proto, banner);
    bump(counter);
    decode_message(cx, payload_message(cx, frame, offset), kind);
    return 0;
}

}  // namespace

int decode_dns(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    return decode_udp_dns(cx, frame, offset, dns_kind::unicast, "dns", "- DNS Header -\n", cx.counters.dns);
}

int decode_mdns(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    return decode_udp_dns(cx, frame, offset, dns_kind::multicast, "mdns", "- mDNS Header -\n", cx.counters.mdns);
}

int decode_llmnr(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    return decode_udp_dns(cx, frame, offset, dns_kind::link_local, "llmnr", "- LLMNR Header -\n", cx.counters.llmnr);
}

int dns_tcp_message_start(const uint8_t* p, size_t n) {
    if (n < 2) return 0;
    if ((size_t{p[0]} << 8 | p[1]) < 12) return -1;
    if (n < 8) return 0;
    unsigned opcode = (p[4] >> 3) & 0x0f;
    bool known = opcode <= 2 || (opcode >= 4 && opcode <= 6);
    bool z_clear = (p[5] & 0x40) == 0;
    bool questions = (size_t{p[6]} << 8 | p[7]) <= 1;
    return known && z_clear && questions ? 1 : -1;
}

int decode_dns_tcp(decode_context& cx, const frame_lengths*, const uint8_t* frame, unsigned offset) {
    message segment = payload_message(cx, frame, offset);
    // The rest of a message an earlier segment began (the reassembly shows
    // it whole), or of one whose start the capture did not see: not a
    // message of its own, as with TLS records and HTTP heads. A segment
    // out of order that begins with a whole message shows it, as the
    // stream expects.
    uint8_t first[8];
    size_t have = std::min<size_t>(captured_from(cx, segment.start, segment.length), sizeof first);
    for (size_t i = 0; i < have; ++i) first[i] = get_u8(cx, segment.start + i);
    int start = dns_tcp_message_start(first, have);
    bool whole = start > 0 && segment.length >= 2u + (size_t{first[0]} << 8 | first[1]);
    if (start < 0 || (!whole && tcp_payload_continues(cx))) {
        layer(cx, "dns", "- DNS Header -\n");
        bump(cx.counters.dns);
        zelk_printf(cx.out, "  [continues a message of an earlier segment]\n");
        record_flag(cx, "continuation", true);
        return 0;
    }
    // A segment may hold several messages, or the start of one.
    for (size_t at = 0; at < segment.length;) {
        layer(cx, "dns", "- DNS Header -\n");
        bump(cx.counters.dns);
        if (segment.length - at < 2) {
            report_malformed(cx, {"the length continues in a later segment", true});
            break;
        }
        uint16_t length = segment.be16(at);
        field(cx, "tcp_length", "  Length: %u\n", length);
        size_t have = segment.length - at - 2;
        message m{segment.cx, segment.start + at + 2, length < have ? length : have, segment.cut, length > have};
        decode_message(cx, m, dns_kind::unicast);
        at += 2u + length;
    }
    return 0;
}
