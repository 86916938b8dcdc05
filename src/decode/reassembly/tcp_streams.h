// TCP byte streams per direction, put in sequence order so that messages
// that span segments (TLS records, HTTP/1.x heads, DNS over TCP) can be
// decoded whole at the frame that completes them.
#pragma once

#include <array>
#include <cstring>
#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

struct protocol_counters;

struct tcp_flow_key {
    std::array<uint8_t, 16> source;
    std::array<uint8_t, 16> destination;
    uint16_t source_port;
    uint16_t destination_port;
    auto operator<=>(const tcp_flow_key&) const = default;
};

struct tcp_flow_hash {
    size_t operator()(const tcp_flow_key& k) const {
        // Eight bytes at a time, each word mixed in with a multiply and a
        // rotation, and a final mix so that every bit counts.
        uint64_t words[4];
        memcpy(words, k.source.data(), 16);
        memcpy(words + 2, k.destination.data(), 16);
        uint64_t h = (uint64_t{k.source_port} << 16 | k.destination_port) * 0x9e3779b97f4a7c15ull;
        for (uint64_t w : words) {
            h ^= w * 0xff51afd7ed558ccdull;
            h = (h << 31 | h >> 33) * 0xc4ceb9fe1a85ec53ull;
        }
        h ^= h >> 33;
        return static_cast<size_t>(h);
    }
};

// How a flow's bytes divide into messages: TLS records and HTTP/1.x heads
// (the usual), DNS with its 2-byte length, PostgreSQL messages, HTTP/2
// frames, Kerberos with its 4-byte record length, BER elements (LDAP; TLS
// after StartTLS).
enum class tcp_framing : uint8_t { usual, dns, pgsql, http2, kerberos, ber };

// A message whose bytes came from more than one frame: a message of the
// framing, or (`handshake`) a TLS handshake message that spans records.
struct tcp_message {
    std::vector<uint8_t> bytes;
    std::vector<unsigned long> frames;
    bool handshake = false;
    // A TLS record whose body begins with the rest of a handshake message
    // that earlier records began: how many bytes of it that rest is.
    uint32_t handshake_rest = 0;
};

struct tcp_limits {
    size_t memory = 256u << 20;    // bytes held by every flow together
    size_t per_flow = 16u << 20;   // bytes one direction may hold
    int64_t idle_timeout_us = 300'000'000;
    size_t handshake = 256u << 10; // longest TLS handshake message put together
};

class tcp_stream_table {
   public:
    // Takes one segment (flags as in the header) and returns the messages
    // it completes that span frames; messages inside one frame are left to
    // that frame's own decoding.
    std::vector<tcp_message> add(const tcp_flow_key& key, uint32_t seq, uint8_t flags, const uint8_t* payload,
                                 size_t length, unsigned long frame, int64_t now_us, const tcp_limits& limits,
                                 protocol_counters& counters, tcp_framing framing = tcp_framing::usual);
    void finish(protocol_counters& counters);
    // True when the segment begins with bytes already seen in its
    // direction (a retransmission): its own decoding would show again
    // what was shown before.
    bool repeats(const tcp_flow_key& key, uint32_t seq, uint8_t flags, size_t length) const;
    // Whether a segment at `seq` would not begin at a message boundary:
    // the direction holds part of a message, or awaits other bytes first.
    bool continues(const tcp_flow_key& key, uint32_t seq) const;
    // How many bytes of a TLS handshake message that earlier records began
    // the body of the direction's next handshake record begins with: 0
    // when none, UINT32_MAX when not known yet (the message's header is
    // split).
    uint32_t handshake_rest(const tcp_flow_key& key, uint32_t seq) const;
    size_t held_bytes() const { return bytes_; }
    size_t held_flows() const { return flows_.size(); }

   private:
    enum class chunk_state : uint8_t { none, size_line, data, trailer };
    // The bytes a frame gave the stream: they end at `end`; its payload
    // began at `start` (earlier when it repeated bytes already held).
    struct mark {
        uint64_t end;
        unsigned long frame;
        uint64_t start;
    };
    // Flows from the least to the most recently used, with the time each
    // was last used, so that the idle ones are found without a lookup.
    struct age_entry {
        tcp_flow_key key;
        int64_t last_us;
    };
    // A TLS handshake message being put together from records (RFC 5246
    // 6.2.1): its bytes so far and the frames they came from.
    struct handshake_state {
        std::vector<uint8_t> bytes;
        std::vector<unsigned long> frames;
        uint32_t skip = 0;  // bytes of a message too long to keep, still to pass over
        bool done = false;  // ChangeCipherSpec or application data: the rest is encrypted
    };
    struct direction {
        bool synced = false;
        bool from_syn = false;
        uint32_t next = 0;                                      // next sequence number expected
        std::map<uint32_t, std::pair<std::string, unsigned long>> early;  // out of order, by seq - next at arrival
        std::vector<uint8_t> pending;                           // in order, not yet a whole message
        uint64_t base = 0;                                      // stream offset of pending[0]
        std::vector<mark> marks;                                // what each frame gave, in stream order
        uint64_t skip = 0;                                      // HTTP body bytes still to pass over
        chunk_state chunks = chunk_state::none;
        tcp_framing framing = tcp_framing::usual;
        handshake_state handshake;
        size_t held = 0;                                        // bytes in pending and early
        int64_t last_us = 0;
        std::list<age_entry>::iterator age;
    };
    using flow_map = std::unordered_map<tcp_flow_key, direction, tcp_flow_hash>;

    // `repeated`: how many bytes before p the frame's payload began.
    void append(direction& d, const uint8_t* p, size_t n, unsigned long frame, size_t repeated);
    // Whether a segment that begins a stream holds only whole messages
    // (HTTP bodies included), so that nothing of it need be kept.
    static bool whole_messages(tcp_framing framing, const uint8_t* p, size_t n);
    void messages(direction& d, std::vector<tcp_message>& out, protocol_counters& counters);
    // Takes a whole TLS record of the direction in stream order; returns
    // how many bytes of its body continued a handshake message.
    uint32_t handshake_record(direction& d, const std::vector<uint8_t>& record,
                              const std::vector<unsigned long>& frames, std::vector<tcp_message>& out,
                              protocol_counters& counters);
    void consume(direction& d, size_t n);
    void forget(flow_map::iterator it);
    void account(direction& d);

    // A segment asks about its flow up to three times (repeats, continues,
    // add): the last key looked up and the direction found (null: none)
    // are kept until the table changes.
    const direction* peek(const tcp_flow_key& key) const;
    void table_changed() { peeked_ = false; }

    flow_map flows_;
    std::list<age_entry> ages_;
    size_t bytes_ = 0;
    size_t handshake_limit_ = 256u << 10;
    mutable tcp_flow_key peeked_key_{};
    mutable const direction* peeked_direction_ = nullptr;
    mutable bool peeked_ = false;
};


// The length of the message at the start of p (n bytes there): 0 when more
// bytes are needed, SIZE_MAX when p does not start a message we frame.
size_t tcp_message_length(const uint8_t* p, size_t n, tcp_framing framing);
// The framing of a flow between these ports when nothing else tells it.
tcp_framing framing_by_port(uint16_t source_port, uint16_t destination_port);
