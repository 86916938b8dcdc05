#include "decode/reassembly/ip_fragments.h"

#include <algorithm>
#include <cstring>

#include "stats/counters.h"

void fragment_table::forget(set_map::iterator it) {
    bytes_ -= it->second.held;
    ages_.erase(it->second.age);
    sets_.erase(it);
}

// What a set costs: its entry as well as its bytes, so that many small or
// dropped sets are bounded like a few large ones.
void fragment_table::account(fragment_set& set) {
    size_t held = set_overhead + set.data.capacity() + set.have.capacity() * sizeof set.have[0] +
                  set.frames.capacity() * sizeof set.frames[0];
    bytes_ = bytes_ - set.held + held;
    set.held = held;
}

// A dropped datagram keeps its entry (without bytes) until it times out,
// so that its later fragments are dropped too (RFC 5722).
void fragment_table::drop(fragment_set& set) {
    std::vector<uint8_t>().swap(set.data);
    std::vector<std::pair<uint32_t, uint32_t>>().swap(set.have);
    std::vector<unsigned long>().swap(set.frames);
    set.dropped = true;
}

void fragment_table::expire(int64_t now_us, const fragment_limits& limits, protocol_counters& counters) {
    while (!ages_.empty()) {
        auto it = sets_.find(ages_.front());
        int64_t timeout = it->first.version == 4 ? limits.ipv4_timeout_us : limits.ipv6_timeout_us;
        if (it->second.last_us + timeout >= now_us) break;
        if (!it->second.dropped) bump(counters.ip_fragments_incomplete);
        forget(it);
    }
}

void fragment_table::finish(protocol_counters& counters) {
    for (auto& [key, set] : sets_)
        if (!set.dropped) bump(counters.ip_fragments_incomplete);
    sets_.clear();
    ages_.clear();
    bytes_ = 0;
}

fragment_result fragment_table::add(const fragment_key& key, uint32_t offset, const uint8_t* bytes, uint32_t length,
                                    bool more, uint32_t limit, unsigned long frame, int64_t now_us,
                                    const fragment_limits& limits, protocol_counters& counters) {
    fragment_result result = place(key, offset, bytes, length, more, limit, frame, now_us, limits, counters);
    auto it = sets_.find(key);
    if (it == sets_.end()) return result;
    account(it->second);
    // Room: the least recently used other sets go first (a dropped one
    // held no bytes, so losing its mark is not counted).
    while (bytes_ > limits.memory && ages_.front() != key) {
        auto oldest = sets_.find(ages_.front());
        if (!oldest->second.dropped) bump(counters.reassembly_evicted);
        forget(oldest);
    }
    if (bytes_ > limits.memory) {
        if (!it->second.dropped) {
            bump(counters.reassembly_evicted);
            result.verdict = fragment_verdict::not_kept;
        }
        forget(it);
    }
    return result;
}

fragment_result fragment_table::place(const fragment_key& key, uint32_t offset, const uint8_t* bytes, uint32_t length,
                                      bool more, uint32_t limit, unsigned long frame, int64_t now_us,
                                      const fragment_limits& limits, protocol_counters& counters) {
    fragment_result result;
    expire(now_us, limits, counters);
    int64_t timeout = key.version == 4 ? limits.ipv4_timeout_us : limits.ipv6_timeout_us;
    auto it = sets_.find(key);
    // A set older than its timeout is gone, even if fragments kept coming.
    if (it != sets_.end() && it->second.first_us + timeout < now_us) {
        if (!it->second.dropped) bump(counters.ip_fragments_incomplete);
        forget(it);
        it = sets_.end();
    }
    uint64_t end = uint64_t{offset} + length;
    if (it == sets_.end()) {
        // Nothing to keep for a fragment that cannot belong to a datagram.
        if (more && length % 8 != 0) {
            result.verdict = fragment_verdict::odd_length;
            return result;
        }
        it = sets_.emplace(key, fragment_set{}).first;
        it->second.first_us = now_us;
        it->second.age = ages_.insert(ages_.end(), key);
    }
    fragment_set& set = it->second;
    set.last_us = now_us;
    ages_.splice(ages_.end(), ages_, set.age);

    auto dropped = [&](fragment_verdict verdict) {
        drop(set);
        bump(counters.ip_fragments_dropped);
        result.verdict = verdict;
        return result;
    };
    if (set.dropped) {
        result.verdict = fragment_verdict::after_drop;
        return result;
    }
    if (end > limit) return dropped(fragment_verdict::too_long);
    if (more && length % 8 != 0) {
        result.verdict = fragment_verdict::odd_length;
        return result;
    }
    uint32_t highest = set.have.empty() ? 0 : set.have.back().second;
    if (!more) {
        if ((set.total_known && set.total != end) || highest > end) return dropped(fragment_verdict::bad_length);
    } else if (set.total_known && end > set.total) {
        return dropped(fragment_verdict::bad_length);
    }

    // Bytes already held inside [offset, end): a duplicate when they are all
    // there and the same.
    uint64_t covered = 0;
    bool differ = false;
    for (const auto& [b, e] : set.have) {
        uint64_t from = std::max<uint64_t>(b, offset), to = std::min<uint64_t>(e, end);
        if (from >= to) continue;
        covered += to - from;
        if (memcmp(set.data.data() + from, bytes + (from - offset), to - from) != 0) differ = true;
    }
    if (covered > 0 && key.version == 6) return dropped(fragment_verdict::overlap_drop);
    if (!more) {
        set.total = static_cast<uint32_t>(end);
        set.total_known = true;
    }
    if (length > 0 && covered == length && !differ) {
        result.verdict = fragment_verdict::duplicate;
        return result;
    }
    if (differ) {
        // RFC 791 copies each fragment into the buffer as it comes, so the
        // later copy of an overlapping byte is the one kept.
        result.verdict = fragment_verdict::overlap;
        set.overlapped = true;
        bump(counters.ip_fragment_overlaps);
    }

    if (end > set.data.size()) {
        // A datagram that alone would pass the bound is not kept at all.
        if (set_overhead + end > limits.memory) {
            forget(it);
            bump(counters.reassembly_evicted);
            result.verdict = fragment_verdict::not_kept;
            return result;
        }
        set.data.reserve(static_cast<size_t>(end));
        set.data.resize(static_cast<size_t>(end));
    }
    if (length > 0) {
        memcpy(set.data.data() + offset, bytes, length);
        // Merge [offset, end) into the sorted ranges.
        std::pair<uint32_t, uint32_t> range{offset, static_cast<uint32_t>(end)};
        std::vector<std::pair<uint32_t, uint32_t>> merged;
        merged.reserve(set.have.size() + 1);
        bool placed = false;
        for (const auto& r : set.have) {
            if (r.second < range.first) {
                merged.push_back(r);
            } else if (range.second < r.first) {
                if (!placed) merged.push_back(range), placed = true;
                merged.push_back(r);
            } else {
                range.first = std::min(range.first, r.first);
                range.second = std::max(range.second, r.second);
            }
        }
        if (!placed) merged.push_back(range);
        set.have.swap(merged);
    }
    set.frames.push_back(frame);

    if (set.total_known && set.have.size() == 1 && set.have[0].first == 0 && set.have[0].second == set.total) {
        result.verdict = fragment_verdict::completed;
        result.overlapped = set.overlapped;
        result.datagram = std::move(set.data);
        result.datagram.resize(set.total);
        result.frames = std::move(set.frames);
        forget(it);
        bump(counters.ip_reassembled);
    }
    return result;
}
