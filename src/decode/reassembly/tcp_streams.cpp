#include "decode/reassembly/tcp_streams.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

#include "decode/app/dns.h"
#include "decode/app/http2.h"
#include "decode/app/pgsql.h"
#include "stats/counters.h"

namespace {

constexpr uint8_t FIN = 0x01, SYN = 0x02, RST = 0x04;
// Heads longer than this are not HTTP we follow.
constexpr size_t max_http_head = 64 * 1024;
// A piece of a segment held out of order that does not begin where the
// segment's payload did carries this bit in its frame number: nothing
// that begins there was shown by that frame.
constexpr unsigned long began_earlier = 1ul << (sizeof(unsigned long) * 8 - 1);
// How far ahead of the stream a segment is held (more than any window seen
// in practice), and how far behind it counts as old.
constexpr int32_t max_gap = 1 << 20;

bool starts_with(const uint8_t* p, size_t n, const char* word) {
    size_t k = strlen(word);
    return n >= k && memcmp(p, word, k) == 0;
}

// A method of RFC 9110 and a space, or a status line.
bool looks_like_http_start(const uint8_t* p, size_t n) {
    // Every method and the status line begin with one of these capitals.
    if (!strchr("GPDHOTCP", p[0]) || p[0] == 0) return false;
    static const char* const starts[] = {"GET ",     "POST ",  "PUT ",   "DELETE ", "HEAD ",
                                         "OPTIONS ", "PATCH ", "TRACE ", "CONNECT ", "HTTP/1."};
    for (const char* s : starts)
        if (starts_with(p, n, s) || (n < strlen(s) && memcmp(p, s, n) == 0)) return true;
    return false;
}

// Where the empty line ends the head, or 0.
size_t head_end(const uint8_t* p, size_t n) {
    // One search for the four bytes, not one per line.
    const void* found = memmem(p, std::min(n, max_http_head), "\r\n\r\n", 4);
    return found ? static_cast<size_t>(static_cast<const uint8_t*>(found) - p) + 4 : 0;
}

// Content-Length and chunked transfer coding from a head (RFC 9112 6.3).
void body_of(const uint8_t* head, size_t n, uint64_t& length, bool& chunked) {
    length = 0;
    chunked = false;
    bool status = starts_with(head, n, "HTTP/1.");
    // 1xx, 204 and 304 responses have no body.
    if (status && n >= 12) {
        int code = (head[9] - '0') * 100 + (head[10] - '0') * 10 + (head[11] - '0');
        if (code / 100 == 1 || code == 204 || code == 304) return;
    }
    auto named = [](const uint8_t* p, size_t k, const char* name) {
        size_t m = strlen(name);
        return k >= m && strncasecmp(reinterpret_cast<const char*>(p), name, m) == 0;
    };
    size_t line = 0;
    while (line < n) {
        size_t end = line;
        while (end < n && head[end] != '\n') ++end;
        const uint8_t* p = head + line;
        size_t k = end - line;
        char first = k ? static_cast<char>(p[0] | 0x20) : 0;
        if (first != 'c' && first != 't') {
            line = end + 1;
            continue;
        }
        if (named(p, k, "content-length:")) {
            std::string value(reinterpret_cast<const char*>(p + 15), k - 15);
            length = strtoull(value.c_str(), nullptr, 10);
        } else if (named(p, k, "transfer-encoding:")) {
            std::string value(reinterpret_cast<const char*>(p + 18), k - 18);
            for (auto& c : value) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
            if (value.find("chunked") != std::string::npos) chunked = true;
        }
        line = end + 1;
    }
    if (chunked) length = 0;
}

// The length of the handshake message whose 4-byte header is at p.
size_t handshake_length(const uint8_t* p) { return 4u + (size_t{p[1]} << 16 | size_t{p[2]} << 8 | p[3]); }

// Handshake messages that may be longer than their record: those that
// carry certificates, keys, extensions or tickets. A record ending in
// anything else is taken as encrypted.
bool handshake_may_span(uint8_t type) {
    switch (type) {
        case 1: case 2: case 4: case 8: case 11: case 12: case 13: case 15: case 16: case 22: return true;
        default: return false;
    }
}

// Passes over the whole handshake messages at the start of [p, p + k).
void pass_whole_handshakes(const uint8_t*& p, size_t& k) {
    while (k >= 4 && handshake_length(p) <= k) {
        size_t n = handshake_length(p);
        p += n;
        k -= n;
    }
}

// A TLS record of a framing that has them.
bool tls_record(tcp_framing framing, const uint8_t* p, size_t n) {
    if (framing != tcp_framing::usual && framing != tcp_framing::ber) return false;
    return n >= 5 && p[0] >= 20 && p[0] <= 24;
}

// Whether a handshake record's body ends with a message that goes on in
// a later record.
bool handshake_goes_on(const uint8_t* record, size_t n) {
    const uint8_t* p = record + 5;
    size_t k = n - 5;
    pass_whole_handshakes(p, k);
    return k > 0 && handshake_may_span(*p);
}

}  // namespace

tcp_framing framing_by_port(uint16_t source_port, uint16_t destination_port) {
    auto on = [&](uint16_t port) { return source_port == port || destination_port == port; };
    if (on(53)) return tcp_framing::dns;
    if (on(5432)) return tcp_framing::pgsql;
    if (on(88)) return tcp_framing::kerberos;
    if (on(389) || on(3268)) return tcp_framing::ber;
    return tcp_framing::usual;
}

// Whether the message at p is an HTTP/1.x head, whose body follows it.
static bool http_head(tcp_framing framing, const uint8_t* p, size_t n) {
    if (framing == tcp_framing::dns || framing == tcp_framing::pgsql || framing == tcp_framing::kerberos || n < 5)
        return false;
    if (framing == tcp_framing::ber && p[0] == 0x30) return false;
    if (framing == tcp_framing::http2) return looks_like_http_start(p, n);
    return !(p[0] >= 20 && p[0] <= 24);
}

size_t tcp_message_length(const uint8_t* p, size_t n, tcp_framing framing) {
    if (n == 0) return 0;
    if (framing == tcp_framing::pgsql) return pgsql_message_length(p, n);
    // An upgrade to h2c begins with HTTP/1.1 heads.
    if (framing == tcp_framing::http2 && !looks_like_http_start(p, n)) return http2_message_length(p, n);
    if (framing == tcp_framing::dns) {
        // Bytes that cannot begin a message (the rest of one whose start
        // was not seen) are let go.
        int start = dns_tcp_message_start(p, n);
        if (start < 0) return SIZE_MAX;
        if (start == 0) return 0;
        size_t length = 2u + (size_t{p[0]} << 8 | p[1]);
        return length <= n ? length : 0;
    }
    if (framing == tcp_framing::kerberos) {
        // A 4-byte record length; its top bit is reserved.
        if (n < 4) return 0;
        if (p[0] & 0x80) return SIZE_MAX;
        size_t length = 4u + (size_t{p[0]} << 24 | size_t{p[1]} << 16 | size_t{p[2]} << 8 | p[3]);
        return length <= n ? length : 0;
    }
    if (framing == tcp_framing::ber && p[0] == 0x30) {
        // An LDAP message: a SEQUENCE of definite length.
        if (n < 2) return 0;
        if (p[1] < 0x80) return 2u + p[1] <= n ? 2u + p[1] : 0;
        unsigned k = p[1] & 0x7fu;
        if (k == 0 || k > 4) return SIZE_MAX;
        if (n < 2u + k) return 0;
        size_t length = 0;
        for (unsigned i = 0; i < k; ++i) length = length << 8 | p[2 + i];
        length += 2u + k;
        return length <= n ? length : 0;
    }
    // A TLS record: content type 20 to 24, version 3.x (RFC 8446 5.1).
    if (p[0] >= 20 && p[0] <= 24) {
        if (n >= 2 && p[1] != 3) return SIZE_MAX;
        if (n < 5) return 0;
        size_t length = 5u + (size_t{p[3]} << 8 | p[4]);
        return length <= n ? length : 0;
    }
    if (looks_like_http_start(p, n)) {
        size_t end = head_end(p, n);
        if (end) return end;
        return n >= max_http_head ? SIZE_MAX : 0;
    }
    return SIZE_MAX;
}

bool tcp_stream_table::whole_messages(tcp_framing framing, const uint8_t* p, size_t n) {
    size_t at = 0;
    while (at < n) {
        size_t length = tcp_message_length(p + at, n - at, framing);
        if (length == 0) return false;
        if (length == SIZE_MAX) return true;  // let go, as a fresh stream would
        if (http_head(framing, p + at, length)) {
            uint64_t body = 0;
            bool chunked = false;
            body_of(p + at, length, body, chunked);
            if (chunked) return false;
            if (starts_with(p + at, length, "HEAD ")) body = 0;
            if (body > n - at - length) return false;
            // The segment's own decoding shows its first head only.
            if (at > 0) return false;
            length += static_cast<size_t>(body);
        } else if (p[at] == 22 && tls_record(framing, p + at, length) && handshake_goes_on(p + at, length)) {
            return false;
        }
        at += length;
    }
    return true;
}

const tcp_stream_table::direction* tcp_stream_table::peek(const tcp_flow_key& key) const {
    if (peeked_ && peeked_key_ == key) return peeked_direction_;
    auto it = flows_.find(key);
    peeked_key_ = key;
    peeked_direction_ = it == flows_.end() ? nullptr : &it->second;
    peeked_ = true;
    return peeked_direction_;
}

bool tcp_stream_table::continues(const tcp_flow_key& key, uint32_t seq) const {
    const direction* found = peek(key);
    if (!found) return false;
    const direction& d = *found;
    return !d.pending.empty() || d.skip > 0 || d.chunks != chunk_state::none || (d.synced && seq != d.next);
}

uint32_t tcp_stream_table::handshake_rest(const tcp_flow_key& key, uint32_t seq) const {
    const direction* found = peek(key);
    if (!found) return 0;
    const direction& d = *found;
    const handshake_state& h = d.handshake;
    // Only a segment that starts where the stream stands begins with the
    // next record.
    if (h.done || !d.pending.empty() || !d.synced || seq != d.next) return 0;
    if (h.skip > 0) return h.skip;
    if (h.bytes.empty()) return 0;
    if (h.bytes.size() < 4) return UINT32_MAX;
    return static_cast<uint32_t>(handshake_length(h.bytes.data()) - h.bytes.size());
}

uint32_t tcp_stream_table::handshake_record(direction& d, const std::vector<uint8_t>& record,
                                            const std::vector<unsigned long>& frames, std::vector<tcp_message>& out,
                                            protocol_counters& counters) {
    handshake_state& h = d.handshake;
    uint8_t type = record[0];
    if (type == 20 || type == 23) {
        // What follows ChangeCipherSpec is encrypted, and application
        // data comes after the handshake.
        if (!h.bytes.empty()) bump(counters.tcp_messages_incomplete);
        h = handshake_state{};
        h.done = true;
        return 0;
    }
    if (type != 22 || h.done || record.size() <= 5) return 0;
    const uint8_t* p = record.data() + 5;
    size_t k = record.size() - 5;
    size_t continued = 0;
    auto pass = [&](size_t n) {
        p += n;
        k -= n;
        continued += n;
    };
    auto too_long = [&](size_t need, size_t have) {
        // Passed over, not kept: the messages behind it are found again.
        bump(counters.reassembly_evicted);
        size_t n = std::min(need - have, k);
        h.skip = static_cast<uint32_t>(need - have - n);
        std::vector<uint8_t>().swap(h.bytes);
        h.frames.clear();
        pass(n);
    };
    if (h.skip > 0) {
        size_t n = std::min<size_t>(h.skip, k);
        h.skip -= static_cast<uint32_t>(n);
        pass(n);
        if (h.skip > 0) return static_cast<uint32_t>(continued);
    } else if (!h.bytes.empty()) {
        for (unsigned long f : frames)
            if (std::find(h.frames.begin(), h.frames.end(), f) == h.frames.end()) h.frames.push_back(f);
        while (k > 0 && h.bytes.size() < 4) {
            h.bytes.push_back(*p);
            pass(1);
        }
        if (h.bytes.size() < 4) return static_cast<uint32_t>(continued);
        size_t need = handshake_length(h.bytes.data());
        if (need > handshake_limit_) {
            too_long(need, h.bytes.size());
            if (h.skip > 0) return static_cast<uint32_t>(continued);
        } else {
            size_t n = std::min(need - h.bytes.size(), k);
            h.bytes.insert(h.bytes.end(), p, p + n);
            pass(n);
            if (h.bytes.size() < need) return static_cast<uint32_t>(continued);
            tcp_message m;
            m.bytes = std::move(h.bytes);
            m.frames = std::move(h.frames);
            m.handshake = true;
            out.push_back(std::move(m));
            h.bytes = {};
            h.frames = {};
        }
    }
    // Whole messages are the record's own to show; one begun at its end is
    // kept.
    auto rest = static_cast<uint32_t>(continued);
    pass_whole_handshakes(p, k);
    if (k == 0 || !handshake_may_span(*p)) return rest;
    if (k >= 4 && handshake_length(p) > handshake_limit_) {
        too_long(handshake_length(p), 0);
        return rest;
    }
    h.bytes.assign(p, p + k);
    h.frames = frames;
    return rest;
}

void tcp_stream_table::account(direction& d) {
    // What a flow costs besides its bytes, so that many small ones are
    // bounded too.
    size_t held = 512 + d.pending.capacity() + d.marks.capacity() * sizeof d.marks[0] +
                  d.handshake.bytes.capacity() + d.handshake.frames.capacity() * sizeof(unsigned long);
    for (const auto& [at, piece] : d.early) held += 96 + piece.first.capacity();
    bytes_ = bytes_ - d.held + held;
    d.held = held;
}

void tcp_stream_table::forget(flow_map::iterator it) {
    table_changed();
    bytes_ -= it->second.held;
    ages_.erase(it->second.age);
    flows_.erase(it);
}

void tcp_stream_table::finish(protocol_counters& counters) {
    for (auto& [key, d] : flows_)
        if (!d.pending.empty() || !d.early.empty() || !d.handshake.bytes.empty())
            bump(counters.tcp_messages_incomplete);
    flows_.clear();
    ages_.clear();
    bytes_ = 0;
    table_changed();
}

bool tcp_stream_table::repeats(const tcp_flow_key& key, uint32_t seq, uint8_t flags, size_t length) const {
    if (length == 0 || (flags & (SYN | RST))) return false;
    const direction* found = peek(key);
    if (!found || !found->synced) return false;
    const direction& d = *found;
    // A segment that begins with bytes the stream has passed: whatever its
    // own decoding would show from its start was shown before, and what
    // begins in its new bytes is the stream's to show.
    auto at = static_cast<int32_t>(seq - d.next);
    if (at < 0 && at >= -max_gap) return true;
    // One that begins inside a segment held out of order, likewise.
    for (const auto& [held_seq, held] : d.early) {
        auto from = static_cast<int32_t>(held_seq - d.next);
        if (from <= at &&
            static_cast<int64_t>(at) < static_cast<int64_t>(from) + static_cast<int64_t>(held.first.size()))
            return true;
    }
    return false;
}

void tcp_stream_table::append(direction& d, const uint8_t* p, size_t n, unsigned long frame, size_t repeated) {
    uint64_t start = d.base + d.pending.size() - repeated;
    if (frame & began_earlier) {
        frame &= ~began_earlier;
        start = UINT64_MAX;
    }
    // Body bytes being passed over are never kept.
    while (n > 0 && d.skip > 0 && d.pending.empty()) {
        size_t k = static_cast<size_t>(std::min<uint64_t>(d.skip, n));
        d.skip -= k;
        d.base += k;
        p += k;
        n -= k;
    }
    if (n == 0) return;
    d.pending.insert(d.pending.end(), p, p + n);
    d.marks.push_back({d.base + d.pending.size(), frame, start});
}

void tcp_stream_table::consume(direction& d, size_t n) {
    d.pending.erase(d.pending.begin(), d.pending.begin() + static_cast<long>(n));
    d.base += n;
    // An emptied buffer gives its memory back: an idle direction costs
    // little, and the memory bound counts what is really held.
    if (d.pending.empty() && d.pending.capacity() > 256) std::vector<uint8_t>().swap(d.pending);
    while (!d.marks.empty() && d.marks.front().end <= d.base) d.marks.erase(d.marks.begin());
}

void tcp_stream_table::messages(direction& d, std::vector<tcp_message>& out, protocol_counters& counters) {
    // Where the last message that its frame's own decoding showed ended,
    // and that frame.
    uint64_t shown_end = UINT64_MAX;
    unsigned long shown_frame = 0;
    for (int steps = 0; steps < 100000 && !d.pending.empty(); ++steps) {
        if (d.skip > 0) {
            size_t k = static_cast<size_t>(std::min<uint64_t>(d.skip, d.pending.size()));
            d.skip -= k;
            consume(d, k);
            continue;
        }
        if (d.chunks != chunk_state::none) {
            // Chunked body (RFC 9112 7.1): size lines, data, then trailer
            // lines up to an empty one.
            auto line_end = std::find(d.pending.begin(), d.pending.end(), '\n');
            if (line_end == d.pending.end()) {
                if (d.pending.size() > 4096) d.chunks = chunk_state::none, d.pending.clear();
                return;
            }
            size_t line = static_cast<size_t>(line_end - d.pending.begin()) + 1;
            if (d.chunks == chunk_state::size_line) {
                std::string text(d.pending.begin(), d.pending.begin() + static_cast<long>(line));
                uint64_t size = strtoull(text.c_str(), nullptr, 16);
                consume(d, line);
                if (size == 0)
                    d.chunks = chunk_state::trailer;
                else
                    d.skip = size + 2;  // the data and its CRLF
            } else {
                bool empty = line <= 2;
                consume(d, line);
                if (empty) d.chunks = chunk_state::none;
            }
            continue;
        }
        size_t length = tcp_message_length(d.pending.data(), d.pending.size(), d.framing);
        if (length == 0) return;  // wait for more
        if (length == SIZE_MAX) {
            // Not a message start we know: let go and look again at the
            // next segment.
            consume(d, d.pending.size());
            return;
        }
        tcp_message m;
        uint64_t from = d.base, to = d.base + length;
        uint64_t begin = d.base;
        uint64_t frame_start = 0;
        for (const mark& k : d.marks) {
            if (k.end > from && begin < to) {
                if (m.frames.empty()) frame_start = k.start;
                m.frames.push_back(k.frame);
            }
            begin = k.end;
        }
        bool http = http_head(d.framing, d.pending.data(), length);
        // A message inside one frame was shown by that frame's own
        // decoding when the frame's payload began with it, or (TLS, DNS and
        // the others: their decoders go on through the segment) with whole
        // messages that were shown before it. The HTTP decoder shows the
        // first head of a segment only.
        bool own =
            m.frames.size() == 1 && (from == frame_start || (!http && from == shown_end && m.frames[0] == shown_frame));
        if (own) {
            shown_end = to;
            shown_frame = m.frames[0];
        }
        if (http) {
            uint64_t body = 0;
            bool chunked = false;
            body_of(d.pending.data(), length, body, chunked);
            if (chunked) d.chunks = chunk_state::size_line;
            if (starts_with(d.pending.data(), length, "HEAD ")) body = 0;
            m.bytes.assign(d.pending.begin(), d.pending.begin() + static_cast<long>(length));
            consume(d, length);
            d.skip = body;
        } else {
            m.bytes.assign(d.pending.begin(), d.pending.begin() + static_cast<long>(length));
            consume(d, length);
        }
        // Handshake messages that span records come whole behind the
        // record that completes them.
        std::vector<tcp_message> handshakes;
        if (tls_record(d.framing, m.bytes.data(), m.bytes.size()))
            m.handshake_rest = handshake_record(d, m.bytes, m.frames, handshakes, counters);
        if (!own && !m.frames.empty()) out.push_back(std::move(m));
        for (tcp_message& h : handshakes) out.push_back(std::move(h));
    }
}

std::vector<tcp_message> tcp_stream_table::add(const tcp_flow_key& key, uint32_t seq, uint8_t flags,
                                               const uint8_t* payload, size_t length, unsigned long frame,
                                               int64_t now_us, const tcp_limits& limits,
                                               protocol_counters& counters, tcp_framing framing) {
    std::vector<tcp_message> out;
    handshake_limit_ = limits.handshake;
    if (framing == tcp_framing::usual) framing = framing_by_port(key.source_port, key.destination_port);
    // Idle flows go first, by capture time.
    while (!ages_.empty() && ages_.front().last_us + limits.idle_timeout_us < now_us)
        forget(flows_.find(ages_.front().key));
    // A flow the segment's earlier questions found absent needs no lookup.
    auto it = peeked_ && peeked_key_ == key && !peeked_direction_ ? flows_.end() : flows_.find(key);
    if (it == flows_.end() && !(flags & (SYN | RST)) && whole_messages(framing, payload, length)) {
        // The usual segment: whole messages, which the frame's own decoding
        // shows, and nothing to keep.
        return out;
    }
    if (flags & (SYN | RST)) {
        // A new connection, or the end of one: nothing held carries over.
        if (it != flows_.end()) forget(it);
        it = flows_.end();
        if (flags & RST) {
            tcp_flow_key back{key.destination, key.source, key.destination_port, key.source_port};
            auto other = flows_.find(back);
            if (other != flows_.end()) forget(other);
            return out;
        }
    }
    if (it == flows_.end()) {
        if (length == 0 && !(flags & SYN)) return out;
        it = flows_.emplace(key, direction{}).first;
        table_changed();
        it->second.age = ages_.insert(ages_.end(), age_entry{key, now_us});
        account(it->second);
    }
    direction& d = it->second;
    d.framing = framing;
    d.last_us = now_us;
    ages_.splice(ages_.end(), ages_, d.age);
    d.age->last_us = now_us;
    if (flags & SYN) {
        d.synced = true;
        d.from_syn = true;
        d.next = seq + 1;
        seq += 1;  // data on a SYN follows it
    } else if (!d.synced) {
        // Joined mid-stream: this segment is where the stream starts.
        d.synced = true;
        d.next = seq;
    }

    auto offset_of = [&](uint32_t s) { return static_cast<int32_t>(s - d.next); };
    if (length > 0) {
        int32_t at = offset_of(seq);
        // Far from where the stream stands (bytes the capture missed, or a
        // stream reused): start afresh at this segment.
        if (at > max_gap || at < -max_gap) {
            d.pending.clear();
            d.marks.clear();
            d.early.clear();
            d.skip = 0;
            d.chunks = chunk_state::none;
            d.handshake = handshake_state{};
            d.next = seq;
            at = 0;
        }
        // Holds [at, at + n) of the stream (bytes p) until the gap before it
        // fills. A segment held already that begins inside it with a
        // message (its own decoding showed it), or where a piece of it
        // would begin, keeps its bytes: the first copy wins. The rest is
        // held piece by piece; `first` is the frame number of the piece at
        // `at` (tagged when the frame's payload began before it).
        tcp_framing framing = d.framing;
        struct held_range {
            int64_t from, to;
            bool shows;
        };
        auto held_inside = [&](int64_t from_at, int64_t end) {
            std::vector<held_range> inside;
            for (const auto& [held_seq, held] : d.early) {
                int64_t from = offset_of(held_seq);
                if (from < from_at || from >= end) continue;
                // Its own decoding showed a whole message at its start.
                const auto* bytes = reinterpret_cast<const uint8_t*>(held.first.data());
                size_t first_message = tcp_message_length(bytes, held.first.size(), framing);
                bool shows = !(held.second & began_earlier) && first_message != 0 && first_message != SIZE_MAX;
                inside.push_back({from, from + static_cast<int64_t>(held.first.size()), shows});
            }
            std::sort(inside.begin(), inside.end(),
                      [](const held_range& x, const held_range& y) { return x.from < y.from; });
            return inside;
        };
        auto hold = [&](int64_t hold_at, const uint8_t* p, size_t n, unsigned long first) {
            int64_t end = hold_at + static_cast<int64_t>(n);
            int64_t piece = hold_at;
            auto keep = [&](int64_t to) {
                if (to <= piece) return;
                uint32_t piece_seq = d.next + static_cast<uint32_t>(piece);
                unsigned long tag = piece == hold_at ? first : first | began_earlier;
                d.early.emplace(piece_seq,
                                std::make_pair(std::string(reinterpret_cast<const char*>(p) + (piece - hold_at),
                                                           static_cast<size_t>(to - piece)),
                                               tag));
            };
            for (const held_range& h : held_inside(hold_at, end)) {
                if (h.from > piece && !h.shows) continue;  // its bytes are this one's too
                keep(h.from);
                piece = std::max(piece, std::min(h.to, end));
            }
            keep(end);
        };
        if (at > 0) {
            // Out of order: kept until the gap fills.
            if (at < static_cast<int32_t>(limits.per_flow)) hold(at, payload, length, frame);
        } else if (static_cast<int64_t>(at) + static_cast<int64_t>(length) > 0) {
            // Retransmitted bytes are passed over: the first copy wins. New
            // bytes from where a segment held out of order that showed a
            // message begins are held behind it.
            size_t old = static_cast<size_t>(-at);
            size_t fresh = length - old;
            for (const held_range& h : held_inside(1, static_cast<int64_t>(fresh)))
                if (h.shows) {
                    hold(h.from, payload + old + h.from, fresh - static_cast<size_t>(h.from), frame | began_earlier);
                    fresh = static_cast<size_t>(h.from);
                    break;
                }
            append(d, payload + old, fresh, frame, old);
            d.next += static_cast<uint32_t>(fresh);
            // Held segments that now fit, in sequence order.
            for (bool moved = true; moved;) {
                moved = false;
                for (auto e = d.early.begin(); e != d.early.end();) {
                    int32_t eat = offset_of(e->first);
                    int64_t eend = static_cast<int64_t>(eat) + static_cast<int64_t>(e->second.first.size());
                    if (eat > 0) {
                        ++e;
                        continue;
                    }
                    if (eend > 0) {
                        size_t skip = static_cast<size_t>(-eat);
                        append(d, reinterpret_cast<const uint8_t*>(e->second.first.data()) + skip,
                               e->second.first.size() - skip, e->second.second, skip);
                        d.next += static_cast<uint32_t>(e->second.first.size() - skip);
                        moved = true;
                    }
                    e = d.early.erase(e);
                }
            }
            messages(d, out, counters);
        }
    }
    account(d);
    if (d.held > limits.per_flow) {
        bump(counters.reassembly_evicted);
        forget(it);
        return out;
    }
    while (bytes_ > limits.memory && !ages_.empty() && ages_.front().key != key) {
        bump(counters.reassembly_evicted);
        forget(flows_.find(ages_.front().key));
    }
    if (flags & FIN) {
        // The direction ends; a message it left unfinished is lost.
        if (!d.pending.empty()) bump(counters.tcp_messages_incomplete);
        if (!d.handshake.bytes.empty()) bump(counters.tcp_messages_incomplete);
        forget(it);
    } else if (!d.from_syn && d.pending.empty() && d.early.empty() && d.skip == 0 &&
               d.chunks == chunk_state::none && d.handshake.bytes.empty() && d.handshake.skip == 0) {
        // Joined mid-stream and nothing waits: the next segment starts the
        // stream afresh just as well, so the direction costs nothing
        // meanwhile. After a SYN the sequence numbers are known and kept.
        forget(it);
    }
    return out;
}
