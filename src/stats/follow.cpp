#include "stats/follow.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "driver/settings.h"
#include "output/record.h"
#include "stats/views.h"
#include "stats/views_table.h"
#include "zelk.h"

namespace {

enum : uint8_t { SYN = 0x02, RST = 0x04 };

// One direction of the followed stream: where the next byte in sequence
// begins, and the segments that came ahead of a gap.
struct direction {
    bool started = false;
    uint32_t next_seq = 0;
    std::map<uint64_t, std::string> ahead;  // by offset from the start
    uint64_t next_offset = 0;
    uint64_t bytes = 0;
    uint64_t retransmitted = 0;
};

// A run of bytes of one direction, as it is printed.
struct chunk {
    int node;
    unsigned long frame;
    std::string bytes;
    bool gap_before;
};

struct follow_state {
    uint8_t protocol = 0;
    // By number: the N-th stream met; by address: the key of the pair.
    bool by_number = true;
    unsigned long wanted = 0;
    std::string wanted_key;
    std::unordered_map<std::string, unsigned long> numbers;
    bool found = false;
    std::string key;
    unsigned long number = 0;
    // Node 0 sent the stream's first frame.
    std::string node_address[2];
    uint16_t node_port[2] = {0, 0};
    direction side[2];
    std::vector<chunk> chunks;
    uint64_t kept = 0;
    uint64_t not_kept = 0;
    unsigned long frames = 0;
    FILE* raw = nullptr;
    const char* raw_path = nullptr;
    bool raw_failed = false;
};

follow_state* follow = nullptr;

[[noreturn]] void refuse(const std::string& message) {
    fprintf(stderr, "nodrix: --follow: %s\n", message.c_str());
    exit(1);
}

// "192.0.2.1:80" or "[2001:db8::1]:443", the address written as the
// decoders write it.
bool parse_endpoint(const std::string& text, std::string& address, uint16_t& port) {
    std::string host, port_text;
    if (!text.empty() && text[0] == '[') {
        size_t close = text.find("]:");
        if (close == std::string::npos) return false;
        host = text.substr(1, close - 1);
        port_text = text.substr(close + 2);
    } else {
        size_t colon = text.rfind(':');
        if (colon == std::string::npos) return false;
        host = text.substr(0, colon);
        port_text = text.substr(colon + 1);
    }
    char* end = nullptr;
    errno = 0;
    unsigned long p = strtoul(port_text.c_str(), &end, 10);
    if (port_text.empty() || *end || errno || p > 65535) return false;
    port = static_cast<uint16_t>(p);
    unsigned char bytes[16];
    char canonical[INET6_ADDRSTRLEN];
    if (inet_pton(AF_INET, host.c_str(), bytes) == 1) {
        inet_ntop(AF_INET, bytes, canonical, sizeof canonical);
    } else if (inet_pton(AF_INET6, host.c_str(), bytes) == 1) {
        inet_ntop(AF_INET6, bytes, canonical, sizeof canonical);
    } else {
        return false;
    }
    address = canonical;
    return true;
}

void write_raw(const std::string& bytes) {
    if (!follow->raw || follow->raw_failed) return;
    if (fwrite(bytes.data(), 1, bytes.size(), follow->raw) != bytes.size()) {
        follow->raw_failed = true;
        fprintf(stderr, "Error: Can't write %s: %s.\n", follow->raw_path, strerror(errno));
    }
}

void deliver(int node, unsigned long frame, std::string bytes, bool gap_before) {
    if (bytes.empty()) return;
    follow->side[node].bytes += bytes.size();
    write_raw(bytes);
    // The printed text keeps what the TCP stream limit allows.
    uint64_t limit = settings.tcp_stream_limit;
    if (limit && follow->kept + bytes.size() > limit) {
        size_t room = follow->kept < limit ? static_cast<size_t>(limit - follow->kept) : 0;
        follow->not_kept += bytes.size() - room;
        bytes.resize(room);
        if (bytes.empty()) return;
    }
    follow->kept += bytes.size();
    if (!follow->chunks.empty() && follow->chunks.back().node == node && !gap_before)
        follow->chunks.back().bytes.append(bytes);
    else
        follow->chunks.push_back({node, frame, std::move(bytes), gap_before});
}

void advance(direction& d, int node, unsigned long frame, std::string bytes, bool gap_before) {
    d.next_offset += bytes.size();
    d.next_seq += static_cast<uint32_t>(bytes.size());
    deliver(node, frame, std::move(bytes), gap_before);
}

// Segments in sequence order; a byte seen before (a retransmission, an
// overlap) is delivered once.
void take_segment(int node, const frame_fact& f) {
    direction& d = follow->side[node];
    if (!d.started) {
        d.started = true;
        d.next_seq = f.seq + ((f.tcp_flags & SYN) ? 1 : 0);
    }
    if (f.payload.empty()) return;
    // The segment's place from the direction's start, unwrapped around
    // the expected sequence number.
    auto delta = static_cast<int32_t>(f.seq - d.next_seq);
    if (delta < 0 && static_cast<uint64_t>(-static_cast<int64_t>(delta)) > d.next_offset) {
        // Before the start: what is left of it is new.
        delta = -static_cast<int32_t>(d.next_offset);
    }
    uint64_t offset = static_cast<uint64_t>(static_cast<int64_t>(d.next_offset) + delta);
    std::string bytes = f.payload;
    if (offset < d.next_offset) {
        uint64_t seen = d.next_offset - offset;
        if (seen >= bytes.size()) {
            d.retransmitted += bytes.size();
            return;
        }
        d.retransmitted += seen;
        bytes.erase(0, static_cast<size_t>(seen));
        offset = d.next_offset;
    }
    if (offset > d.next_offset) {
        // Ahead of a gap: kept until the gap is filled (or the end).
        auto& slot = d.ahead[offset];
        if (slot.size() < bytes.size()) slot = std::move(bytes);
        return;
    }
    advance(d, node, f.number, std::move(bytes), false);
    // Segments that waited for this one.
    while (!d.ahead.empty() && d.ahead.begin()->first <= d.next_offset) {
        auto first = d.ahead.begin();
        uint64_t seen = d.next_offset - first->first;
        std::string waiting = std::move(first->second);
        d.ahead.erase(first);
        if (seen >= waiting.size()) {
            d.retransmitted += waiting.size();
            continue;
        }
        d.retransmitted += seen;
        waiting.erase(0, static_cast<size_t>(seen));
        advance(d, node, f.number, std::move(waiting), false);
    }
}

}  // namespace

void start_follow() {
    if (!options.follow_given) refuse("--follow-raw needs --follow to name the stream");
    follow = new follow_state;
    std::string text = options.follow;
    size_t comma = text.find(',');
    std::string kind = text.substr(0, comma);
    if (kind == "tcp")
        follow->protocol = 6;
    else if (kind == "udp")
        follow->protocol = 17;
    else
        refuse("'" + text + "' names no stream; write tcp,N or udp,N, or tcp,ADDR:PORT,ADDR:PORT");
    std::string rest = comma == std::string::npos ? "" : text.substr(comma + 1);
    size_t second = rest.find(',');
    if (second == std::string::npos) {
        char* end = nullptr;
        errno = 0;
        unsigned long n = strtoul(rest.c_str(), &end, 10);
        if (rest.empty() || *end || errno || rest[0] == '-')
            refuse("'" + rest + "' is no stream number (0 is the first stream)");
        follow->wanted = n;
    } else {
        std::string a, b;
        uint16_t a_port, b_port;
        if (!parse_endpoint(rest.substr(0, second), a, a_port) || !parse_endpoint(rest.substr(second + 1), b, b_port))
            refuse("'" + rest + "' is not ADDR:PORT,ADDR:PORT (IPv6 as [ADDR]:PORT)");
        follow->by_number = false;
        follow->wanted_key = conversation_key(a, a_port, b, b_port);
    }
    if (options.follow_raw_given) {
        follow->raw_path = options.follow_raw;
        follow->raw = fopen(options.follow_raw, "wb");
        if (!follow->raw) {
            fprintf(stderr, "nodrix: --follow-raw: can't open %s: %s\n", options.follow_raw, strerror(errno));
            exit(1);
        }
    }
}

bool follow_active() { return follow != nullptr; }

uint8_t follow_protocol() { return follow ? follow->protocol : 0; }

void follow_take(const frame_fact& f) {
    if (!follow || f.transport != follow->protocol || !f.has_payload) return;
    follow_state& s = *follow;
    std::string key = conversation_key(f.src, f.src_port, f.dst, f.dst_port);
    if (!s.found) {
        if (s.by_number) {
            auto [at, added] = s.numbers.emplace(key, s.numbers.size());
            if (at->second != s.wanted) return;
            s.number = at->second;
            s.numbers.clear();
        } else if (key != s.wanted_key) {
            return;
        }
        s.found = true;
        s.key = std::move(key);
        s.node_address[0] = f.src;
        s.node_port[0] = f.src_port;
        s.node_address[1] = f.dst;
        s.node_port[1] = f.dst_port;
    } else if (key != s.key) {
        return;
    }
    ++s.frames;
    int node = f.src == s.node_address[0] && f.src_port == s.node_port[0] ? 0 : 1;
    if (s.protocol == 6)
        take_segment(node, f);
    else
        deliver(node, f.number, f.payload, false);
}

namespace {

std::string endpoint_text(int node) {
    const std::string& a = follow->node_address[node];
    std::string port = std::to_string(follow->node_port[node]);
    return a.find(':') == std::string::npos ? a + ":" + port : "[" + a + "]:" + port;
}

// Printable bytes as they are, a line end as a line end; everything else
// escaped, so that the text shows every byte and moves no terminal.
void append_escaped(std::string& out, const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    for (unsigned char c : bytes) {
        if (c == '\n') {
            out.push_back('\n');
        } else if (c == '\r') {
            out.append("\\r");
        } else if (c == '\t') {
            out.append("\\t");
        } else if (c == '\\') {
            out.append("\\\\");
        } else if (c >= 0x20 && c < 0x7f) {
            out.push_back(static_cast<char>(c));
        } else {
            out.append("\\x");
            out.push_back(digits[c >> 4]);
            out.push_back(digits[c & 0x0f]);
        }
    }
}

// What waited behind a gap that never filled comes last, marked.
void flush_gaps() {
    for (int node = 0; node < 2; ++node) {
        direction& d = follow->side[node];
        while (!d.ahead.empty()) {
            auto first = d.ahead.begin();
            uint64_t offset = first->first;
            std::string bytes = std::move(first->second);
            d.ahead.erase(first);
            if (offset + bytes.size() <= d.next_offset) {
                d.retransmitted += bytes.size();
                continue;
            }
            if (offset < d.next_offset) {
                d.retransmitted += d.next_offset - offset;
                bytes.erase(0, static_cast<size_t>(d.next_offset - offset));
                offset = d.next_offset;
            }
            bool gap = offset > d.next_offset;
            d.next_offset = offset;
            advance(d, node, 0, std::move(bytes), gap);
        }
    }
}

}  // namespace

bool print_followed_stream() {
    if (!follow) return true;
    follow_state& s = *follow;
    const char* kind = s.protocol == 6 ? "TCP" : "UDP";
    flush_gaps();
    if (s.raw && fclose(s.raw) != 0 && !s.raw_failed) {
        s.raw_failed = true;
        fprintf(stderr, "Error: Can't write %s: %s.\n", s.raw_path, strerror(errno));
    }
    s.raw = nullptr;
    if (!s.found) {
        // After the frames already written.
        zelk_flush(stdout);
        if (s.by_number)
            fprintf(stderr, "nodrix: --follow: the input holds no %s stream %lu\n", kind, s.wanted);
        else
            fprintf(stderr, "nodrix: --follow: the input holds no %s stream %s\n", kind,
                    strchr(options.follow, ',') + 1);
        return false;
    }
    std::string out;
    if (settings.json) {
        out = "{\"follow\":\"";
        out.append(s.protocol == 6 ? "tcp" : "udp").append("\",\"nodes\":[");
        for (int node = 0; node < 2; ++node) {
            out.append(node ? ",{\"address\":" : "{\"address\":");
            append_json_text(out, s.node_address[node]);
            out.append(",\"port\":").append(std::to_string(s.node_port[node])).append("}");
        }
        out.append("],\"chunks\":[");
        for (size_t i = 0; i < s.chunks.size(); ++i) {
            const chunk& c = s.chunks[i];
            out.append(i ? ",{\"node\":" : "{\"node\":").append(std::to_string(c.node));
            if (c.frame) out.append(",\"frame\":").append(std::to_string(c.frame));
            if (c.gap_before) out.append(",\"gap_before\":true");
            out.append(",\"length\":").append(std::to_string(c.bytes.size())).append(",\"data\":");
            append_json_text(out, c.bytes);
            out.push_back('}');
        }
        out.append("],\"frames\":").append(std::to_string(s.frames));
        out.append(",\"bytes\":[").append(std::to_string(s.side[0].bytes)).append(",");
        out.append(std::to_string(s.side[1].bytes)).append("],\"retransmitted\":");
        out.append(std::to_string(s.side[0].retransmitted + s.side[1].retransmitted));
        out.append(",\"not_kept\":").append(std::to_string(s.not_kept)).append("}\n");
        write_record_line(zelk_main_text(), out.data(), out.size());
        return !s.raw_failed;
    }
    out = "\n---------- Follow: ";
    out.append(kind).append(" ");
    if (s.by_number)
        out.append("stream ").append(std::to_string(s.number));
    else
        out.append(endpoint_text(0)).append(" - ").append(endpoint_text(1));
    out.append(" ----------\nNode 0: ").append(endpoint_text(0));
    out.append("\nNode 1: ").append(endpoint_text(1)).append("\n");
    for (const chunk& c : s.chunks) {
        out.append("\n");
        if (c.gap_before) out.append("[bytes missing before this]\n");
        out.append(c.node == 0 ? ">>> " : "<<< ").append(endpoint_text(c.node)).append(", ");
        out.append(std::to_string(c.bytes.size())).append(" bytes");
        if (c.frame) out.append(", frame ").append(std::to_string(c.frame));
        out.append("\n");
        append_escaped(out, c.bytes);
        if (out.back() != '\n') out.push_back('\n');
    }
    out.append("\n---------- ").append(std::to_string(s.frames)).append(" frames; node 0 sent ");
    out.append(std::to_string(s.side[0].bytes)).append(" bytes, node 1 sent ");
    out.append(std::to_string(s.side[1].bytes)).append(" bytes");
    uint64_t again = s.side[0].retransmitted + s.side[1].retransmitted;
    if (again) out.append("; ").append(std::to_string(again)).append(" bytes seen again");
    if (s.not_kept)
        out.append("; ").append(std::to_string(s.not_kept)).append(" bytes beyond --tcp-stream-limit not shown");
    out.append(" ----------\n");
    zelk_write(out.data(), out.size());
    return !s.raw_failed;
}
