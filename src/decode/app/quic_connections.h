// The QUIC connection ids each UDP flow has shown in its long headers, so
// that a short header, which does not carry the length of its destination
// connection id, can be read against the ids its receiver chose. One table
// per decoding context: every frame of an address pair reaches the same
// context in frame order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <list>
#include <unordered_map>
#include <vector>

struct quic_endpoint {
    std::array<uint8_t, 16> address;
    uint16_t port;
    auto operator<=>(const quic_endpoint&) const = default;
};

struct quic_connection_id {
    uint8_t length = 0;
    std::array<uint8_t, 20> bytes{};
};

struct quic_limits {
    size_t flows = 16384;      // UDP flows remembered by one context
    size_t ids_per_flow = 16;  // the oldest id goes first
    int64_t idle_timeout_us = 300'000'000;
};

class quic_connection_table {
   public:
    // A long header went from `from` to `to`: packets to `to` carry dcid,
    // packets to `from` carry scid.
    void learn(const quic_endpoint& from, const quic_endpoint& to, const uint8_t* dcid, uint8_t dcid_length,
               const uint8_t* scid, uint8_t scid_length, int64_t now_us, const quic_limits& limits = {});
    // The destination connection id of a short header sent from `from` to
    // `to` whose bytes behind the first byte are [p, p + n): the longest id
    // the receiver chose that the bytes start with, or nothing.
    // Zero-length ids count: a receiver that chose one uses no ids at all.
    bool match(const quic_endpoint& from, const quic_endpoint& to, const uint8_t* p, size_t n, int64_t now_us,
               quic_connection_id& found, const quic_limits& limits = {});
    size_t flows() const { return flows_.size(); }

   private:
    // The two endpoints in a fixed order, so both directions share one entry.
    struct flow_key {
        quic_endpoint low, high;
        bool operator==(const flow_key&) const = default;
    };
    struct flow_hash {
        size_t operator()(const flow_key& k) const;
    };
    struct receiver_id {
        bool to_high;  // carried by packets sent to the higher endpoint
        quic_connection_id id;
    };
    struct flow {
        std::vector<receiver_id> ids;  // oldest first
        int64_t last_us = 0;
        std::list<flow_key>::iterator age;
    };
    using flow_map = std::unordered_map<flow_key, flow, flow_hash>;

    // The live entry of a flow, or end(): an idle one is forgotten first.
    flow_map::iterator find(const flow_key& key, int64_t now_us, const quic_limits& limits);
    void forget(flow_map::iterator it);
    void add(flow& f, bool to_high, const uint8_t* id, uint8_t length, const quic_limits& limits);

    flow_map flows_;
    std::list<flow_key> ages_;  // least recently used first
};
