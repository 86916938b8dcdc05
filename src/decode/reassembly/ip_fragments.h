// IPv4 and IPv6 fragments gathered into whole datagrams, per decoding
// context. Every frame of one address pair reaches the same context in
// frame order, so a datagram's fragments all meet here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <vector>

struct protocol_counters;

struct fragment_key {
    uint8_t version;  // 4 or 6
    uint8_t protocol;
    uint32_t id;
    std::array<uint8_t, 16> source;
    std::array<uint8_t, 16> destination;
    auto operator<=>(const fragment_key&) const = default;
};

// What one fragment did to its datagram.
enum class fragment_verdict {
    held,           // kept until the rest arrives
    completed,      // the datagram is whole: see fragment_result
    duplicate,      // every byte was there already, the same
    overlap,        // IPv4: overlapping bytes differ; the later copy is kept
    overlap_drop,   // IPv6: any overlap drops the datagram (RFC 5722)
    too_long,       // the datagram would pass 65,535 bytes: dropped
    bad_length,     // conflicting lengths: the datagram is dropped
    odd_length,     // a fragment with more to follow not a multiple of 8: ignored
    after_drop,     // the datagram was dropped already
    not_kept,       // no room, or reassembly off: the fragment is not kept
};

struct fragment_result {
    fragment_verdict verdict = fragment_verdict::held;
    bool overlapped = false;            // completed, but bytes overlapped on the way
    std::vector<uint8_t> datagram;     // the payload behind the IP header(s)
    std::vector<unsigned long> frames;  // frames it came from, in arrival order
};

struct fragment_limits {
    size_t memory = 256u << 20;     // payload bytes held by all sets together
    int64_t ipv4_timeout_us = 30'000'000;
    int64_t ipv6_timeout_us = 60'000'000;  // RFC 8200
};

class fragment_table {
   public:
    // Adds the fragment of `length` bytes at byte `offset` of its datagram.
    // `limit` is the largest payload the datagram may have.
    fragment_result add(const fragment_key& key, uint32_t offset, const uint8_t* bytes, uint32_t length, bool more,
                        uint32_t limit, unsigned long frame, int64_t now_us, const fragment_limits& limits,
                        protocol_counters& counters);
    // Counts the sets still waiting as incomplete and forgets them.
    void finish(protocol_counters& counters);
    size_t held_bytes() const { return bytes_; }
    size_t held_sets() const { return sets_.size(); }
    // What a set's entry costs besides its bytes (the map and age nodes).
    static constexpr size_t set_overhead = 256;

   private:
    struct fragment_set {
        std::vector<uint8_t> data;
        std::vector<std::pair<uint32_t, uint32_t>> have;  // sorted, merged [begin, end)
        uint32_t total = 0;                                // known once the last fragment came
        bool total_known = false;
        bool dropped = false;
        bool overlapped = false;  // differing bytes were overwritten on the way
        int64_t first_us = 0;
        int64_t last_us = 0;
        std::vector<unsigned long> frames;
        size_t held = 0;                        // what it costs, as counted in bytes_
        std::list<fragment_key>::iterator age;  // place in the least-recently-used order
    };
    using set_map = std::map<fragment_key, fragment_set>;

    fragment_result place(const fragment_key& key, uint32_t offset, const uint8_t* bytes, uint32_t length, bool more,
                          uint32_t limit, unsigned long frame, int64_t now_us, const fragment_limits& limits,
                          protocol_counters& counters);
    void forget(set_map::iterator it);
    void account(fragment_set& set);
    void drop(fragment_set& set);
    void expire(int64_t now_us, const fragment_limits& limits, protocol_counters& counters);

    set_map sets_;
    std::list<fragment_key> ages_;  // least recently used first
    size_t bytes_ = 0;
};
