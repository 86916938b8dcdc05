#include "stats/views.h"

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "capture/frame_time.h"
#include "decode/context.h"
#include "driver/settings.h"
#include "output/record.h"
#include "stats/follow.h"
#include "stats/views_table.h"
#include "zelk.h"

namespace {

// Application facts a frame can give.
enum note_kind : uint8_t { dns_query, dns_rcode, http_request, http_status, tls_server_name, tls_version };

enum view_bit : unsigned {
    view_conversations = 1,
    view_endpoints = 2,
    view_protocols = 4,
    view_io = 8,
    view_dns = 16,
    view_http = 32,
    view_tls = 64,
};

struct view_name {
    const char* name;
    unsigned bit;
};
constexpr view_name view_names[] = {
    {"conversations", view_conversations},
    {"endpoints", view_endpoints},
    {"protocols", view_protocols},
    {"io", view_io},
    {"dns", view_dns},
    {"http", view_http},
    {"tls", view_tls},
};

unsigned views = 0;
// The io view's interval in microseconds.
int64_t io_interval_us = 1000000;

// Bounded memory: each table keeps at most this many rows; what falls
// outside is counted and shown under the table.
constexpr size_t max_conversations = 100000;
constexpr size_t max_endpoints = 100000;
constexpr size_t max_protocol_nodes = 10000;
constexpr size_t max_io_rows = 1000000;
constexpr size_t max_names = 10000;

// Frames and bytes of one direction.
struct volume {
    uint64_t frames = 0;
    uint64_t bytes = 0;
    void add(uint32_t length) {
        ++frames;
        bytes += length;
    }
};

int64_t micros(long seconds, unsigned microseconds) { return capture_micros(seconds, microseconds); }

// A conversation between A (who sent its first frame) and B.
struct conversation {
    std::string a, b;
    uint16_t a_port = 0, b_port = 0;
    volume ab, ba;
    unsigned long first_frame = 0;
    int64_t first_us = 0, last_us = 0;
};

struct conversation_table {
    const char* title;
    const char* key;
    bool ports;
    std::unordered_map<std::string, size_t> index;
    std::vector<conversation> rows;
    uint64_t frames_over_limit = 0;

    void add(const std::string& src, uint16_t src_port, const std::string& dst, uint16_t dst_port,
             const frame_fact& f) {
        std::string k = conversation_key(src, src_port, dst, dst_port);
        auto found = index.find(k);
        int64_t at = micros(f.seconds, f.microseconds);
        if (found == index.end()) {
            if (rows.size() >= max_conversations) {
                ++frames_over_limit;
                return;
            }
            found = index.emplace(std::move(k), rows.size()).first;
            rows.push_back({src, dst, src_port, dst_port, {}, {}, f.number, at, at});
        }
        conversation& c = rows[found->second];
        bool forward = c.a == src && c.a_port == src_port;
        (forward ? c.ab : c.ba).add(f.wire_length);
        c.last_us = std::max(c.last_us, at);
        c.first_us = std::min(c.first_us, at);
    }
};

struct endpoint {
    std::string address;
    volume sent, received;
};

struct endpoint_table {
    const char* title;
    const char* key;
    std::unordered_map<std::string, size_t> index;
    std::vector<endpoint> rows;
    uint64_t frames_over_limit = 0;

    endpoint* find(const std::string& address) {
        auto found = index.find(address);
        if (found != index.end()) return &rows[found->second];
        if (rows.size() >= max_endpoints) return nullptr;
        index.emplace(address, rows.size());
        rows.push_back({address, {}, {}});
        return &rows.back();
    }
    void add(const frame_fact::ip_pair& ip, uint32_t wire_length) {
        endpoint* s = find(ip.src);
        if (s) s->sent.add(wire_length);
        endpoint* r = ip.dst == ip.src ? s : find(ip.dst);
        if (r) r->received.add(wire_length);
        if (!s || !r) ++frames_over_limit;
    }
};

// The protocol hierarchy: a tree of layer names, children in the order
// first seen.
struct protocol_node {
    std::string name;
    volume seen;
    std::vector<size_t> children;
};

struct counted_names {
    std::map<std::string, uint64_t> counts;
    uint64_t over_limit = 0;
    void add(const std::string& name) {
        auto found = counts.find(name);
        if (found != counts.end()) {
            ++found->second;
        } else if (counts.size() < max_names) {
            counts.emplace(name, 1);
        } else {
            ++over_limit;
        }
    }
};

struct view_state {
    conversation_table ipv4{"IPv4", "ipv4", false, {}, {}, 0};
    conversation_table ipv6{"IPv6", "ipv6", false, {}, {}, 0};
    conversation_table tcp{"TCP", "tcp", true, {}, {}, 0};
    conversation_table udp{"UDP", "udp", true, {}, {}, 0};
    endpoint_table endpoints4{"IPv4", "ipv4", {}, {}, 0};
    endpoint_table endpoints6{"IPv6", "ipv6", {}, {}, 0};
    std::vector<protocol_node> protocols{protocol_node{"", {}, {}}};
    uint64_t protocol_frames_over_limit = 0;
    volume all;
    std::map<int64_t, volume> io;
    uint64_t io_over_limit = 0;
    counted_names dns_queries, dns_rcodes, http_requests, http_statuses, tls_names, tls_versions;
};

view_state* state = nullptr;

// Capture span for the --statistic report: every frame read.
bool span_known = false;
int64_t span_first_us = 0, span_last_us = 0;

// The payload the transport decoders noted for the frame being recorded.
thread_local transport_payload_note payload_note;
// Facts of the frames this thread decoded, until the frame loop takes them.
thread_local std::vector<frame_fact> thread_facts;

[[noreturn]] void refuse(const char* option, const std::string& message) {
    fprintf(stderr, "nodrix: --%s: %s\n", option, message.c_str());
    exit(1);
}

void parse_stats_option(const char* text) {
    std::string_view rest(text);
    bool after_io = false;
    while (true) {
        size_t comma = rest.find(',');
        std::string word(rest.substr(0, comma));
        char* end = nullptr;
        double seconds = after_io && !word.empty() ? strtod(word.c_str(), &end) : 0;
        if (after_io && end && *end == 0 && end != word.c_str()) {
            // The interval that follows io.
            if (!(seconds >= 0.000001 && seconds <= 86400.0 * 365))
                refuse("stats", "the io interval must be from 0.000001 to 31536000 seconds, not " + word);
            io_interval_us = static_cast<int64_t>(std::llround(seconds * 1e6));
            after_io = false;
        } else {
            unsigned bit = 0;
            for (const auto& v : view_names)
                if (word == v.name) bit = v.bit;
            if (!bit)
                refuse("stats", "unknown view '" + word +
                                    "'; the views are conversations, endpoints, protocols, io[,SECONDS], dns, http "
                                    "and tls");
            views |= bit;
            after_io = bit == view_io;
        }
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
}

}  // namespace

std::string conversation_key(const std::string& src, uint16_t src_port, const std::string& dst, uint16_t dst_port) {
    // The lower end first; built in one piece, as it is made for every
    // frame.
    bool swap = dst < src || (dst == src && dst_port < src_port);
    const std::string& one = swap ? dst : src;
    const std::string& two = swap ? src : dst;
    uint16_t one_port = swap ? dst_port : src_port, two_port = swap ? src_port : dst_port;
    // "addr port addr port": no address text holds a space.
    char ports[2][8];
    char* one_end = std::to_chars(ports[0], ports[0] + 8, one_port).ptr;
    char* two_end = std::to_chars(ports[1], ports[1] + 8, two_port).ptr;
    std::string key;
    key.reserve(one.size() + two.size() + 16);
    key.append(one).push_back(' ');
    key.append(ports[0], one_end).push_back(' ');
    key.append(two).push_back(' ');
    key.append(ports[1], two_end);
    return key;
}

void start_stats_views() {
    if (options.stats_given) parse_stats_option(options.stats);
    if (options.follow_given || options.follow_raw_given) start_follow();
    if (views) state = new view_state;
}

bool stats_views_on() { return views != 0 || follow_active(); }

bool follow_wanted(uint8_t protocol) { return follow_protocol() == protocol; }

void note_transport_payload(decode_context&, uint8_t protocol, const uint8_t* bytes, size_t length, uint32_t seq,
                            uint8_t flags) {
    if (payload_note.protocol) return;
    payload_note = {bytes, length, seq, flags, protocol};
}

namespace {

bool is(const char* key, const char* name) { return key && strcmp(key, name) == 0; }

// What an application layer said, gathered until the next layer begins.
struct app_layer {
    enum { none, dns, http, tls } kind = none;
    bool response = false;
    long long rcode = -1;
    std::string rcode_name;
    std::vector<std::string> questions;
    std::string question_name, question_type;
    std::string method, host, header_name, reason;
    long long status = -1;
    // TLS: the open items, innermost last, and the handshake being read.
    std::vector<const char*> items;
    long long handshake_type = -1, hello_version = -1, selected_version = -1;
    std::string server_name;
};

std::string tls_version_text(long long v) {
    switch (v) {
        case 0x0300: return "SSL 3.0";
        case 0x0301: return "TLS 1.0";
        case 0x0302: return "TLS 1.1";
        case 0x0303: return "TLS 1.2";
        case 0x0304: return "TLS 1.3";
        default: {
            char text[16];
            snprintf(text, sizeof text, "0x%04llx", v & 0xffff);
            return text;
        }
    }
}

void end_handshake(app_layer& a, frame_fact& f) {
    if (a.handshake_type == 1 && !a.server_name.empty()) f.notes.emplace_back(tls_server_name, a.server_name);
    if (a.handshake_type == 2) {
        long long v = a.selected_version >= 0 ? a.selected_version : a.hello_version;
        if (v >= 0) f.notes.emplace_back(tls_version, tls_version_text(v));
    }
    a.handshake_type = a.hello_version = a.selected_version = -1;
    a.server_name.clear();
}

void end_app_layer(app_layer& a, frame_fact& f) {
    switch (a.kind) {
        case app_layer::dns:
            if (!a.response)
                for (auto& q : a.questions) f.notes.emplace_back(dns_query, std::move(q));
            if (a.response && a.rcode >= 0)
                f.notes.emplace_back(dns_rcode, a.rcode_name.empty() ? std::to_string(a.rcode) : a.rcode_name);
            break;
        case app_layer::http:
            if (!a.method.empty()) f.notes.emplace_back(http_request, a.host + '\t' + a.method);
            if (a.status >= 0)
                f.notes.emplace_back(http_status, std::to_string(a.status) + (a.reason.empty() ? "" : " " + a.reason));
            break;
        case app_layer::tls: break;
        case app_layer::none: return;
    }
    a = app_layer{};
}

void note_app_entry(app_layer& a, const frame_record_data& r, const record_entry& e, frame_fact& f) {
    bool text = e.kind == entry_kind::text;
    bool number = e.kind == entry_kind::number || e.kind == entry_kind::unsigned_number;
    if (e.kind == entry_kind::item) {
        a.items.push_back(e.key);
        if (a.kind == app_layer::dns && is(e.key, "questions")) a.question_name.clear(), a.question_type.clear();
        return;
    }
    if (e.kind == entry_kind::item_end) {
        const char* closed = a.items.empty() ? nullptr : a.items.back();
        if (!a.items.empty()) a.items.pop_back();
        if (a.kind == app_layer::dns && is(closed, "questions"))
            a.questions.push_back(a.question_name + '\t' + a.question_type);
        if (a.kind == app_layer::tls && is(closed, "handshakes")) end_handshake(a, f);
        return;
    }
    const char* inner = a.items.empty() ? nullptr : a.items.back();
    switch (a.kind) {
        case app_layer::dns:
            if (is(inner, "questions")) {
                if (text && is(e.key, "name")) a.question_name = entry_text(r, e);
                if (number && is(e.key, "type") && a.question_type.empty()) a.question_type = std::to_string(e.number);
                if (e.kind == entry_kind::name && is(e.key, "type")) a.question_type = entry_text(r, e);
            } else if (!inner) {
                if (e.kind == entry_kind::boolean && is(e.key, "response")) a.response = e.number != 0;
                if (number && is(e.key, "rcode")) a.rcode = e.number;
                if (e.kind == entry_kind::name && is(e.key, "rcode")) a.rcode_name = entry_text(r, e);
            }
            break;
        case app_layer::http:
            if (!inner) {
                if (text && is(e.key, "method")) a.method = entry_text(r, e);
                if (number && is(e.key, "status")) a.status = e.number;
                if (text && is(e.key, "reason")) a.reason = entry_text(r, e);
            } else if (is(inner, "headers")) {
                if (text && is(e.key, "name")) a.header_name = entry_text(r, e);
                if (text && is(e.key, "value") && strcasecmp(a.header_name.c_str(), "host") == 0 && a.host.empty())
                    a.host = entry_text(r, e);
            }
            break;
        case app_layer::tls:
            if (is(inner, "handshakes")) {
                if (number && is(e.key, "type")) a.handshake_type = e.number;
                if (number && is(e.key, "hello_version")) a.hello_version = e.number;
            }
            if (number && is(e.key, "selected_version")) a.selected_version = e.number;
            if (text && is(e.key, "server_name") && a.server_name.empty()) a.server_name = entry_text(r, e);
            break;
        case app_layer::none: break;
    }
}

}  // namespace

void note_frame_fact(decode_context& cx) {
    const frame_record_data& r = cx.record;
    thread_facts.emplace_back();
    frame_fact& f = thread_facts.back();
    f.number = r.number;
    f.seconds = r.seconds;
    f.microseconds = r.microseconds;
    f.wire_length = r.wire_length;
    f.stack.reserve(64);
    // The IP header being read, and whether it is the outermost one.
    std::string src, dst;
    unsigned ip_layers = 0, ports = 0;
    bool in_ip = false, in_transport = false;
    app_layer app;
    for (const record_entry& e : r.entries) {
        if (e.kind == entry_kind::layer) {
            end_app_layer(app, f);
            if (!f.stack.empty()) f.stack.push_back(':');
            f.stack.append(e.key);
            in_ip = is(e.key, "ipv4") || is(e.key, "ipv6");
            in_transport = false;
            if (in_ip) {
                src.clear();
                dst.clear();
                ++ip_layers;
                f.ips.push_back({static_cast<uint8_t>(is(e.key, "ipv4") ? 4 : 6), {}, {}});
            } else if ((is(e.key, "tcp") || is(e.key, "udp")) && !f.transport && ip_layers) {
                f.transport = is(e.key, "tcp") ? 6 : 17;
                f.src = src;
                f.dst = dst;
                in_transport = true;
            } else if ((is(e.key, "tcp") || is(e.key, "udp")) && ip_layers) {
                f.inner.push_back({static_cast<uint8_t>(is(e.key, "tcp") ? 6 : 17), src, dst, 0, 0, 0});
                in_transport = true;
            } else if (is(e.key, "dns")) {
                app.kind = app_layer::dns;
            } else if (is(e.key, "http")) {
                app.kind = app_layer::http;
            } else if (is(e.key, "tls")) {
                app.kind = app_layer::tls;
            }
            continue;
        }
        if (in_ip && e.kind == entry_kind::text) {
            if (is(e.key, "src") && src.empty()) {
                src = entry_text(r, e);
                f.ips.back().src = src;
            } else if (is(e.key, "dst") && dst.empty()) {
                dst = entry_text(r, e);
                f.ips.back().dst = dst;
            }
        } else if (in_transport && (e.kind == entry_kind::number || e.kind == entry_kind::unsigned_number)) {
            bool first = f.inner.empty();
            uint16_t& src_port = first ? f.src_port : f.inner.back().src_port;
            uint16_t& dst_port = first ? f.dst_port : f.inner.back().dst_port;
            unsigned& seen = first ? ports : f.inner.back().ports;
            if (is(e.key, "src_port")) {
                src_port = static_cast<uint16_t>(e.number);
                ++seen;
            } else if (is(e.key, "dst_port")) {
                dst_port = static_cast<uint16_t>(e.number);
                ++seen;
            }
        } else if (app.kind != app_layer::none) {
            note_app_entry(app, r, e, f);
        }
    }
    end_app_layer(app, f);
    // A frame whose IP or transport header was cut before its addresses
    // or ports names no conversation.
    f.ips.erase(std::remove_if(f.ips.begin(), f.ips.end(),
                               [](const frame_fact::ip_pair& ip) { return ip.src.empty() || ip.dst.empty(); }),
                f.ips.end());
    if (f.src.empty() || f.dst.empty() || ports < 2) f.transport = 0;
    f.inner.erase(std::remove_if(f.inner.begin(), f.inner.end(),
                                 [](const frame_fact::inner_transport& t) {
                                     return t.src.empty() || t.dst.empty() || t.ports < 2;
                                 }),
                  f.inner.end());
    const transport_payload_note& p = payload_note;
    if (p.protocol && p.protocol == f.transport && follow_active()) {
        f.has_payload = true;
        f.seq = p.seq;
        f.tcp_flags = p.flags;
        f.payload.assign(reinterpret_cast<const char*>(p.bytes), p.length);
    }
    payload_note = {};
}

void forget_transport_payload() { payload_note = {}; }

std::vector<frame_fact>& stats_thread_facts() { return thread_facts; }

void note_frame_time(long seconds, unsigned microseconds) {
    int64_t at = micros(seconds, microseconds);
    if (!span_known) span_first_us = at;
    span_known = true;
    span_last_us = at;
}

void take_frame_fact(frame_fact& f) {
    follow_take(f);
    if (!state) return;
    view_state& s = *state;
    int64_t at = micros(f.seconds, f.microseconds);
    s.all.add(f.wire_length);
    if (views & view_conversations) {
        for (const frame_fact::ip_pair& ip : f.ips) (ip.version == 4 ? s.ipv4 : s.ipv6).add(ip.src, 0, ip.dst, 0, f);
        if (f.transport) (f.transport == 6 ? s.tcp : s.udp).add(f.src, f.src_port, f.dst, f.dst_port, f);
        for (const frame_fact::inner_transport& t : f.inner)
            (t.protocol == 6 ? s.tcp : s.udp).add(t.src, t.src_port, t.dst, t.dst_port, f);
    }
    if (views & view_endpoints)
        for (const frame_fact::ip_pair& ip : f.ips) (ip.version == 4 ? s.endpoints4 : s.endpoints6).add(ip, f.wire_length);
    if (views & view_protocols) {
        size_t node = 0;
        s.protocols[0].seen.add(f.wire_length);
        std::string_view rest(f.stack);
        bool dropped = false;
        while (!rest.empty()) {
            size_t colon = rest.find(':');
            std::string_view name = rest.substr(0, colon);
            size_t child = 0;
            for (size_t c : s.protocols[node].children)
                if (s.protocols[c].name == name) child = c;
            if (!child) {
                if (s.protocols.size() >= max_protocol_nodes) {
                    dropped = true;
                    break;
                }
                child = s.protocols.size();
                s.protocols.push_back({std::string(name), {}, {}});
                s.protocols[node].children.push_back(child);
            }
            s.protocols[child].seen.add(f.wire_length);
            node = child;
            if (colon == std::string_view::npos) break;
            rest.remove_prefix(colon + 1);
        }
        if (dropped) ++s.protocol_frames_over_limit;
    }
    if (views & view_io) {
        // Intervals from the first frame read, shown or not (as tshark's);
        // a frame stamped before it falls in a negative interval rather
        // than being lost.
        int64_t d = at - span_first_us;
        int64_t slot = d >= 0 ? d / io_interval_us : -((-d + io_interval_us - 1) / io_interval_us);
        auto found = s.io.find(slot);
        if (found != s.io.end())
            found->second.add(f.wire_length);
        else if (s.io.size() < max_io_rows)
            s.io[slot].add(f.wire_length);
        else
            ++s.io_over_limit;
    }
    for (const auto& [kind, text] : f.notes) {
        switch (kind) {
            case dns_query:
                if (views & view_dns) s.dns_queries.add(text);
                break;
            case dns_rcode:
                if (views & view_dns) s.dns_rcodes.add(text);
                break;
            case http_request:
                if (views & view_http) s.http_requests.add(text);
                break;
            case http_status:
                if (views & view_http) s.http_statuses.add(text);
                break;
            case tls_server_name:
                if (views & view_tls) s.tls_names.add(text);
                break;
            case tls_version:
                if (views & view_tls) s.tls_versions.add(text);
                break;
            default: break;
        }
    }
}

// --- printing ---

namespace {

std::string seconds_text(int64_t us) {
    char text[40];
    const char* sign = us < 0 ? "-" : "";
    uint64_t m = us < 0 ? 0 - static_cast<uint64_t>(us) : static_cast<uint64_t>(us);
    snprintf(text, sizeof text, "%s%" PRIu64 ".%06u", sign, m / 1000000, static_cast<unsigned>(m % 1000000));
    return text;
}

std::string number(uint64_t n) { return std::to_string(n); }

std::string share(uint64_t part, uint64_t whole) {
    char text[16];
    snprintf(text, sizeof text, "%.1f", whole ? 100.0 * static_cast<double>(part) / static_cast<double>(whole) : 0.0);
    return text;
}

void conversation_rows(const conversation_table& t, int64_t first_us, stats_table& out) {
    out.title = t.title;
    out.key = t.key;
    if (t.ports) out.columns.push_back({"Stream", "stream", cell_kind::number});
    out.columns.push_back({"Address A", "a", cell_kind::text});
    if (t.ports) out.columns.push_back({"Port A", "a_port", cell_kind::number});
    out.columns.push_back({"Address B", "b", cell_kind::text});
    if (t.ports) out.columns.push_back({"Port B", "b_port", cell_kind::number});
    for (stats_column c :
         {stats_column{"Frames A>B", "frames_ab", cell_kind::number},
          stats_column{"Bytes A>B", "bytes_ab", cell_kind::number},
          stats_column{"Frames B>A", "frames_ba", cell_kind::number},
          stats_column{"Bytes B>A", "bytes_ba", cell_kind::number}, stats_column{"Frames", "frames", cell_kind::number},
          stats_column{"Bytes", "bytes", cell_kind::number}, stats_column{"Rel. start", "start", cell_kind::real},
          stats_column{"Duration", "duration", cell_kind::real}})
        out.columns.push_back(c);
    // Numbered by first frame: the order they were met in.
    size_t stream = 0;
    for (const conversation& c : t.rows) {
        std::vector<std::string> row;
        if (t.ports) row.push_back(number(stream++));
        row.push_back(c.a);
        if (t.ports) row.push_back(number(c.a_port));
        row.push_back(c.b);
        if (t.ports) row.push_back(number(c.b_port));
        row.push_back(number(c.ab.frames));
        row.push_back(number(c.ab.bytes));
        row.push_back(number(c.ba.frames));
        row.push_back(number(c.ba.bytes));
        row.push_back(number(c.ab.frames + c.ba.frames));
        row.push_back(number(c.ab.bytes + c.ba.bytes));
        row.push_back(seconds_text(c.first_us - first_us));
        row.push_back(seconds_text(c.last_us - c.first_us));
        out.rows.push_back(std::move(row));
    }
    out.over_limit = t.frames_over_limit;
}

void endpoint_rows(const endpoint_table& t, stats_table& out) {
    out.title = t.title;
    out.key = t.key;
    out.columns = {{"Address", "address", cell_kind::text},
                   {"Frames", "frames", cell_kind::number},
                   {"Bytes", "bytes", cell_kind::number},
                   {"Frames sent", "frames_sent", cell_kind::number},
                   {"Bytes sent", "bytes_sent", cell_kind::number},
                   {"Frames received", "frames_received", cell_kind::number},
                   {"Bytes received", "bytes_received", cell_kind::number}};
    for (const endpoint& e : t.rows)
        out.rows.push_back({e.address, number(e.sent.frames + e.received.frames),
                            number(e.sent.bytes + e.received.bytes), number(e.sent.frames), number(e.sent.bytes),
                            number(e.received.frames), number(e.received.bytes)});
    out.over_limit = t.frames_over_limit;
}

// Text indents each layer under the one it rides on; JSON names the path.
void protocol_rows(const view_state& s, size_t node, const std::string& path, unsigned depth, stats_table& out) {
    for (size_t c : s.protocols[node].children) {
        const protocol_node& p = s.protocols[c];
        std::string here = path.empty() ? p.name : path + ":" + p.name;
        out.rows.push_back({std::string(2 * depth, ' ') + p.name, here, number(p.seen.frames), number(p.seen.bytes),
                            share(p.seen.frames, s.all.frames), share(p.seen.bytes, s.all.bytes)});
        protocol_rows(s, c, here, depth + 1, out);
    }
}

void name_rows(const counted_names& names, const char* title, const char* key, std::vector<stats_column> columns,
               stats_table& out) {
    out.title = title;
    out.key = key;
    out.columns = std::move(columns);
    out.columns.push_back({"Count", "count", cell_kind::number});
    // Most frequent first; ties by name, so the order is always the same.
    std::vector<std::pair<std::string, uint64_t>> sorted(names.counts.begin(), names.counts.end());
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto& x, const auto& y) { return x.second > y.second; });
    for (const auto& [name, count] : sorted) {
        std::vector<std::string> row;
        std::string_view rest(name);
        for (size_t i = 0; i + 1 < out.columns.size(); ++i) {
            size_t tab = rest.find('\t');
            row.emplace_back(rest.substr(0, tab));
            rest = tab == std::string_view::npos ? std::string_view() : rest.substr(tab + 1);
        }
        row.push_back(number(count));
        out.rows.push_back(std::move(row));
    }
    out.over_limit = names.over_limit;
}

}  // namespace

namespace {

void print_stats_views() {
    if (!state) return;
    const view_state& s = *state;
    std::vector<stats_view> out;
    if (views & view_conversations) {
        stats_view v{"conversations", "Conversations", {}};
        for (const conversation_table* t : {&s.ipv4, &s.ipv6, &s.tcp, &s.udp}) {
            v.tables.emplace_back();
            conversation_rows(*t, span_first_us, v.tables.back());
        }
        out.push_back(std::move(v));
    }
    if (views & view_endpoints) {
        stats_view v{"endpoints", "Endpoints", {}};
        for (const endpoint_table* t : {&s.endpoints4, &s.endpoints6}) {
            v.tables.emplace_back();
            endpoint_rows(*t, v.tables.back());
        }
        out.push_back(std::move(v));
    }
    if (views & view_protocols) {
        stats_view v{"protocols", "Protocol hierarchy", {}};
        v.tables.emplace_back();
        stats_table& t = v.tables.back();
        t.title = "";
        t.key = "protocols";
        t.columns = {{"Protocol", nullptr, cell_kind::text},          {nullptr, "path", cell_kind::text},
                     {"Frames", "frames", cell_kind::number},         {"Bytes", "bytes", cell_kind::number},
                     {"Frames %", "frames_percent", cell_kind::real}, {"Bytes %", "bytes_percent", cell_kind::real}};
        protocol_rows(s, 0, "", 0, t);
        t.over_limit = s.protocol_frames_over_limit;
        out.push_back(std::move(v));
    }
    if (views & view_io) {
        stats_view v{"io", "Frames and bytes per interval", {}};
        v.tables.emplace_back();
        stats_table& t = v.tables.back();
        t.title = "";
        t.key = "intervals";
        t.columns = {{"Start", "start", cell_kind::real},
                     {"End", "end", cell_kind::real},
                     {"Frames", "frames", cell_kind::number},
                     {"Bytes", "bytes", cell_kind::number}};
        // Every interval from the first to the last, empty ones included.
        if (!s.io.empty()) {
            int64_t first = s.io.begin()->first, last = s.io.rbegin()->first;
            bool dense = static_cast<uint64_t>(last - first) < max_io_rows;
            auto row = [&](int64_t slot, const volume& v) {
                t.rows.push_back({seconds_text(slot * io_interval_us), seconds_text((slot + 1) * io_interval_us),
                                  number(v.frames), number(v.bytes)});
            };
            if (dense) {
                for (int64_t slot = first; slot <= last; ++slot) {
                    auto found = s.io.find(slot);
                    row(slot, found == s.io.end() ? volume{} : found->second);
                }
            } else {
                for (const auto& [slot, v] : s.io) row(slot, v);
            }
        }
        t.over_limit = s.io_over_limit;
        out.push_back(std::move(v));
    }
    if (views & view_dns) {
        stats_view v{"dns", "DNS", {}};
        v.tables.resize(2);
        name_rows(s.dns_queries, "Queries", "queries",
                  {{"Name", "name", cell_kind::text}, {"Type", "type", cell_kind::text}}, v.tables[0]);
        name_rows(s.dns_rcodes, "Response codes", "rcodes", {{"Rcode", "rcode", cell_kind::text}}, v.tables[1]);
        out.push_back(std::move(v));
    }
    if (views & view_http) {
        stats_view v{"http", "HTTP", {}};
        v.tables.resize(2);
        name_rows(s.http_requests, "Requests", "requests",
                  {{"Host", "host", cell_kind::text}, {"Method", "method", cell_kind::text}}, v.tables[0]);
        name_rows(s.http_statuses, "Status codes", "statuses", {{"Status", "status", cell_kind::text}}, v.tables[1]);
        out.push_back(std::move(v));
    }
    if (views & view_tls) {
        stats_view v{"tls", "TLS", {}};
        v.tables.resize(2);
        name_rows(s.tls_names, "Server names (ClientHello)", "server_names",
                  {{"Server name", "server_name", cell_kind::text}}, v.tables[0]);
        name_rows(s.tls_versions, "Versions (ServerHello)", "versions", {{"Version", "version", cell_kind::text}},
                  v.tables[1]);
        out.push_back(std::move(v));
    }
    for (const stats_view& v : out) print_stats_view(v);
}

}  // namespace

bool finish_stats_views() {
    // Asked for by name, the tables show under --quiet too.
    if ((state || follow_active()) && !settings.json) zelk_clear_quiet();
    print_stats_views();
    bool ok = print_followed_stream();
    delete state;
    state = nullptr;
    return ok;
}

void print_capture_span() {
    if (!span_known) return;
    char first[48], last[48];
    capture_time_text(span_first_us, first, sizeof first);
    capture_time_text(span_last_us, last, sizeof last);
    zelk_printf("\n--- Capture span ---\nFirst frame:\t%s\nLast frame:\t%s\n", first, last);
    zelk_printf("Span:\t\t%s s\n", seconds_text(span_last_us - span_first_us).c_str());
}
