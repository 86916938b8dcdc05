// One line per frame, built from the frame's record: time, the addresses
// that matter, the innermost protocol and its key facts.
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <algorithm>
#include <memory>
#include <vector>

#include "capture/frame_time.h"
#include "driver/settings.h"
#include "output/record.h"
#include "decode/context.h"
#include "zelk.h"

namespace {

// Each decoding thread builds its line in its own scratch.
thread_local std::string line;
// The record being written.
thread_local const frame_record_data* current;

struct layer_view {
    size_t begin;  // index of the layer entry
    size_t end;    // one past its last entry
    const char* proto;
};

const record_entry* find(const layer_view& l, const char* key, entry_kind kind = entry_kind::number) {
    const auto& entries = current->entries;
    int depth = 0;
    for (size_t i = l.begin + 1; i < l.end; ++i) {
        const record_entry& e = entries[i];
        if (e.kind == entry_kind::item) ++depth;
        if (e.kind == entry_kind::item_end) --depth;
        // Numbers match whether the decoder held them signed or unsigned.
        bool same_kind = e.kind == kind || (kind == entry_kind::number && e.kind == entry_kind::unsigned_number);
        if (depth == 0 && same_kind && e.key && e.key[0] == key[0] && strcmp(e.key, key) == 0) return &e;
    }
    return nullptr;
}

void append_text(std::string_view text) {
    for (char c : text) line.push_back(c >= 0x20 && c < 0x7f ? c : '.');
}

bool append_field_text(const layer_view& l, const char* key) {
    const record_entry* e = find(l, key, entry_kind::text);
    if (!e) return false;
    append_text(entry_text(*current, *e));
    return true;
}

void append_number(long long v) { line.append(std::to_string(v)); }

bool is_network(const char* proto) {
    return proto[0] == 'i' && proto[1] == 'p' && proto[2] == 'v' && (proto[3] == '4' || proto[3] == '6') && !proto[4];
}
// Link layers an encapsulated frame brings along (VXLAN, EtherIP, GRE).
bool is_inner_link(const char* proto) {
    static const char* const names[] = {"ethernet", "vlan", "qinq", "llc", "ppp", "pppoe"};
    for (const char* n : names)
        if (!strcmp(n, proto)) return true;
    return false;
}

bool is_transport(const char* proto) {
    if (proto[0] != 't' && proto[0] != 'u' && proto[0] != 's') return false;
    return !strcmp(proto, "tcp") || !strcmp(proto, "udp") || !strcmp(proto, "sctp");
}

// The protocol as people write it.
std::string display_name(const char* proto) {
    static const struct {
        const char* proto;
        const char* text;
    } names[] = {
        {"ipv4", "IPv4"},
        {"ipv6", "IPv6"},
        {"icmpv6", "ICMPv6"},
        {"icmpv6_nd", "ICMPv6"},
        {"mldv2", "MLDv2"},
        {"ipv6_hop_by_hop", "IPv6-HopByHop"},
        {"ipv6_routing", "IPv6-Routing"},
        {"ipv6_fragment", "IPv6-Fragment"},
        {"ipv6_destination", "IPv6-DstOpts"},
        {"ipv6_mobility", "IPv6-Mobility"},
        {"ipv7", "IPv7"},
        {"etherip", "EtherIP"},
        {"pppoe", "PPPoE"},
        {"ieee80211", "802.11"},
        {"vlan", "802.1Q"},
        {"qinq", "802.1ad"},
        {"radiotap", "Radiotap"},
        {"prism", "Prism"},
        {"token_ring", "Token-Ring"},
        {"linux_cooked", "Linux-cooked"},
        {"cisco_hdlc", "Cisco-HDLC"},
        {"atm_clip", "ATM-CLIP"},
        {"atm_rfc1483", "ATM-RFC1483"},
        {"ipx_rip", "IPX-RIP"},
        {"ripng", "RIPng"},
        {"mtp_bridge", "MTP"},
        {"ipv6cp", "IPv6CP"},
        {"dhcpv6", "DHCPv6"},
        {"mdns", "mDNS"},
        {"syslog", "Syslog"},
        {"geneve", "Geneve"},
        {"lacp_marker", "LACP-Marker"},
        {"slow_protocol", "Slow-Protocol"},
        {"kerberos", "Kerberos"},
    };
    for (const auto& n : names)
        if (n.proto[0] == proto[0] && !strcmp(n.proto, proto)) return n.text;
    std::string s(proto);
    for (char& c : s) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return s;
}

void append_endpoint(const layer_view& ip, const layer_view* transport, const char* address_key, const char* port_key) {
    append_field_text(ip, address_key);
    if (!transport) return;
    if (const record_entry* port = find(*transport, port_key)) {
        line.push_back('.');
        append_number(port->number);
    }
}

// The first sequence number seen in each direction of a TCP connection, so
// that later segments show numbers relative to it. Frames of one connection
// always reach the same decode context in frame order, and whether a
// direction is remembered depends only on its own frames: it is forgotten
// after idle_seconds of capture time without a segment (its next segment
// then shows absolute numbers and starts afresh). So a table per context
// gives the same numbers for any number of threads. The table grows with
// the directions in use; past max_directions live ones in one context it
// starts afresh, the one case where the numbers may depend on --jobs.
//
// A direction is known by a 64-bit hash of its addresses and ports (never
// 0, which marks a free slot); the table is flat and open-addressed, 16
// bytes a direction, so that a segment costs no allocation. Its memory
// comes zeroed from calloc, untouched: a capture of a hundred thousand one-segment
// connections touches each page once, on its first use.
constexpr long idle_seconds = 300;
constexpr size_t max_directions = size_t{1} << 20;

struct direction_slot {
    uint64_t id;  // 0: free
    uint32_t first_seq;
    uint32_t last_seen;  // capture seconds, modulo 2^32
};
}  // namespace

// A context's directions; see decode_context::tcp_directions.
struct summary_directions {
    direction_slot* slots = nullptr;
    size_t size = 0;
    size_t used = 0;

    ~summary_directions() { free(slots); }
    // The direction's slot, or the free slot where it would go.
    direction_slot* find(uint64_t id) {
        if (!slots) allocate(4096);
        size_t mask = size - 1;
        for (size_t i = id & mask;; i = (i + 1) & mask) {
            direction_slot& slot = slots[i];
            if (!slot.id || slot.id == id) return &slot;
        }
    }
    // A time going backwards keeps a direction, as a difference below the
    // limit does.
    static bool live(const direction_slot& slot, long now) {
        return slot.id && static_cast<int32_t>(static_cast<uint32_t>(now) - slot.last_seen) <= idle_seconds;
    }
    void allocate(size_t n) {
        slots = static_cast<direction_slot*>(zelk_xcalloc(n, sizeof(direction_slot)));
        size = n;
        used = 0;
    }
    // Makes room for one more, keeping the table at most 70 % full: drops
    // the idle, then grows (or, at the limit, starts afresh).
    void make_room(long now) {
        if ((used + 1) * 10 <= size * 7) return;
        direction_slot* old = slots;
        size_t old_size = size, live_count = 0;
        for (size_t i = 0; i < old_size; ++i) live_count += live(old[i], now);
        size_t n = old_size;
        while ((live_count + 1) * 10 > n * 4 && n < 2 * max_directions) n *= 2;
        allocate(n);
        if ((live_count + 1) * 10 <= n * 7)
            for (size_t i = 0; i < old_size; ++i) {
                if (!live(old[i], now)) continue;
                *find(old[i].id) = old[i];
                ++used;
            }
        free(old);
    }
};

void summary_directions_free::operator()(summary_directions* d) const { delete d; }

namespace {

// Mixes bytes into a 64-bit hash.
uint64_t mix(uint64_t h, uint64_t v) {
    h ^= v * 0xff51afd7ed558ccdull;
    return (h << 31 | h >> 33) * 0xc4ceb9fe1a85ec53ull;
}
uint64_t mix_text(uint64_t h, std::string_view text) {
    size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        uint64_t w;
        memcpy(&w, text.data() + i, 8);
        h = mix(h, w);
    }
    uint64_t tail = text.size();
    for (; i < text.size(); ++i) tail = tail << 8 | static_cast<uint8_t>(text[i]);
    return mix(h, tail);
}
uint64_t id_of(std::string_view from, long long from_port, std::string_view to, long long to_port) {
    uint64_t h = 0x9e3779b97f4a7c15ull;
    h = mix_text(h, from);
    h = mix(h, static_cast<uint64_t>(from_port) << 32 | static_cast<uint64_t>(to_port & 0xffff));
    h = mix_text(h, to);
    h ^= h >> 29;
    return h ? h : 1;
}

// What the summary shows of the current segment's numbers, when tracked.
thread_local long long seq_shown, ack_shown;
thread_local bool tracked;

// Looks up (and learns) the segment's direction; every TCP segment counts,
// whether or not the summary line ends up showing its numbers.
void track_tcp(summary_directions& first_seq, const layer_view& ip, const layer_view& tcp) {
    const record_entry* seq = find(tcp, "seq");
    const record_entry* ack = find(tcp, "ack");
    seq_shown = seq ? seq->number : 0;
    ack_shown = ack ? ack->number : 0;
    tracked = true;
    const record_entry* src = find(ip, "src", entry_kind::text);
    const record_entry* dst = find(ip, "dst", entry_kind::text);
    const record_entry* src_port = find(tcp, "src_port");
    const record_entry* dst_port = find(tcp, "dst_port");
    if (settings.absolute_seq || !seq || !src || !dst || !src_port || !dst_port) return;
    std::string_view source = entry_text(*current, *src), destination = entry_text(*current, *dst);
    long now = current->seconds;
    uint64_t id = id_of(source, src_port->number, destination, dst_port->number);
    direction_slot* own = first_seq.find(id);
    if (!summary_directions::live(*own, now)) {
        if (!own->id) {
            first_seq.make_room(now);
            own = first_seq.find(id);
            ++first_seq.used;
        }
        *own = {id, static_cast<uint32_t>(seq->number), static_cast<uint32_t>(now)};
        return;
    }
    own->last_seen = static_cast<uint32_t>(now);
    seq_shown = static_cast<uint32_t>(seq->number - own->first_seq);
    const direction_slot* reverse = first_seq.find(id_of(destination, dst_port->number, source, src_port->number));
    if (ack && summary_directions::live(*reverse, now)) ack_shown = static_cast<uint32_t>(ack->number - reverse->first_seq);
}

void append_tcp_facts(const layer_view& l) {
    if (const record_entry* flags = find(l, "flags")) {
        static const char letters[] = "FSRPAUEW";
        line.append(" [");
        for (int bit = 0; bit < 8; ++bit)
            if (flags->number & (1 << bit)) line.push_back(letters[bit]);
        line.push_back(']');
    }
    const record_entry* seq = find(l, "seq");
    const record_entry* ack = find(l, "ack");
    if (seq) {
        line.append(" seq ");
        append_number(tracked ? seq_shown : seq->number);
    }
    if (ack) {
        line.append(" ack ");
        append_number(tracked ? ack_shown : ack->number);
    }
    static const struct {
        const char* key;
        const char* label;
    } facts[] = {{"window", " win "}, {"payload_length", " len "}};
    for (const auto& f : facts)
        if (const record_entry* e = find(l, f.key)) {
            line.append(f.label);
            append_number(e->number);
        }
}

// Echo and the other ICMP messages that carry them: " id N seq N".
void append_identifier(const layer_view& l) {
    const record_entry* id = find(l, "identifier");
    const record_entry* seq = find(l, "seq");
    if (!id || !seq) return;
    line.append(" id ");
    append_number(id->number);
    line.append(" seq ");
    append_number(seq->number);
}

// Every 802.1Q and 802.1ad tag of the frame, outermost first: " vlan N".
void append_vlan_ids(const layer_view* layers, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const char* proto = layers[i].proto;
        if (strcmp(proto, "ethernet") != 0 && strcmp(proto, "vlan") != 0 && strcmp(proto, "qinq") != 0) continue;
        for (size_t j = layers[i].begin + 1; j < layers[i].end; ++j) {
            const record_entry& e = current->entries[j];
            if ((e.kind == entry_kind::number || e.kind == entry_kind::unsigned_number) && e.key &&
                strcmp(e.key, "vlan_id") == 0) {
                line.append(" vlan ");
                append_number(e.number);
            }
        }
    }
}

// The facts of the innermost layer: the decoder's own words when it gave
// them, else what the usual keys hold.
void append_facts(const layer_view& l) {
    const auto& entries = current->entries;
    for (size_t i = l.end; i-- > l.begin + 1;)
        if (entries[i].kind == entry_kind::note) {
            line.push_back(' ');
            append_text(entry_text(*current, entries[i]));
            return;
        }
    if (!strcmp(l.proto, "tcp")) {
        append_tcp_facts(l);
        return;
    }
    if (!strcmp(l.proto, "udp")) {
        if (const record_entry* e = find(l, "length")) {
            line.append(" len ");
            append_number(e->number);
        }
        return;
    }
    const record_entry* type_name = find(l, "type", entry_kind::name);
    if (type_name) {
        line.push_back(' ');
        append_text(entry_text(*current, *type_name));
    } else if (const record_entry* type = find(l, "type")) {
        line.append(" type ");
        append_number(type->number);
    }
    if (const record_entry* code_name = find(l, "code", entry_kind::name)) {
        line.append(", ");
        append_text(entry_text(*current, *code_name));
    }
    if (!strcmp(l.proto, "icmp") || !strcmp(l.proto, "icmpv6")) append_identifier(l);
}

}  // namespace

void write_summary_line(decode_context& cx) {
    const frame_record_data& r = cx.record;
    zelk_text& out = cx.out;
    current = &r;
    line.clear();
    // The frame line's time stamp, in the format --time-format chose.
    if (r.time_text[0]) {
        line.append(r.time_text);
    } else {
        long day = r.seconds % 86400;
        if (day < 0) day += 86400;
        char time_text[32];
        snprintf(time_text, sizeof time_text, "%02ld:%02ld:%02ld.%06u", day / 3600, day % 3600 / 60, day % 60,
                 r.microseconds);
        line.append(time_text);
    }

    // The layers in order, outermost first.
    layer_view layers[64];
    size_t count = 0;
    for (size_t i = 0; i < r.entries.size(); ++i) {
        if (r.entries[i].kind != entry_kind::layer) continue;
        if (count && count < 64) layers[count - 1].end = i;
        if (count < 64) layers[count++] = layer_view{i, r.entries.size(), r.entries[i].key};
    }

    bool any_network = false;
    tracked = false;
    for (size_t i = 0; i < count; ++i) {
        if (!is_network(layers[i].proto)) continue;
        if (any_network) {
            // A tunnel: the protocol that carried the inner packet (the
            // nearest one before it that is no link layer of the inner
            // frame), or the inner IP version when IP rides directly on IP.
            size_t j = i - 1;
            while (j > 0 && is_inner_link(layers[j].proto)) --j;
            const char* carrier = is_network(layers[j].proto) ? layers[i].proto : layers[j].proto;
            line.push_back(' ');
            line.append(display_name(carrier));
            line.append(" >");
        }
        any_network = true;
        const layer_view* transport = i + 1 < count && is_transport(layers[i + 1].proto) ? &layers[i + 1] : nullptr;
        line.push_back(' ');
        append_endpoint(layers[i], transport, "src", "src_port");
        line.append(" > ");
        append_endpoint(layers[i], transport, "dst", "dst_port");
        if (transport && !strcmp(transport->proto, "tcp")) {
            if (!cx.tcp_directions) cx.tcp_directions.reset(new summary_directions);
            track_tcp(*cx.tcp_directions, layers[i], *transport);
        }
    }
    if (!any_network && count) {
        // No IP: the link-layer addresses, where the link has them.
        for (size_t i = 0; i < count; ++i) {
            const record_entry* src = find(layers[i], "src", entry_kind::text);
            const record_entry* dst = find(layers[i], "dst", entry_kind::text);
            if (src && dst) {
                line.push_back(' ');
                append_text(entry_text(*current, *src));
                line.append(" > ");
                append_text(entry_text(*current, *dst));
                break;
            }
        }
    }
    // The tags after the addresses, before the protocol they carry.
    append_vlan_ids(layers, count);
    if (count) {
        const layer_view& inner = layers[count - 1];
        line.push_back(' ');
        line.append(display_name(inner.proto));
        append_facts(inner);
    } else {
        line.append(" (not decoded)");
    }
    line.append(" (");
    append_number(r.captured_length);
    line.append(" bytes)");
    if (r.captured_length < r.wire_length) line.append(" [cut]");
    if (r.truncated) line.append(" [truncated]");
    if (r.malformed) line.append(" [malformed]");
    line.push_back('\n');
    write_record_line(out, line.data(), line.size());
}
