#include "decode/app/quic_connections.h"

#include <cstring>

size_t quic_connection_table::flow_hash::operator()(const flow_key& k) const {
    uint64_t words[4];
    memcpy(words, k.low.address.data(), 16);
    memcpy(words + 2, k.high.address.data(), 16);
    uint64_t h = (uint64_t{k.low.port} << 16 | k.high.port) * 0x9e3779b97f4a7c15ull;
    for (uint64_t w : words) {
        h ^= w * 0xff51afd7ed558ccdull;
        h = (h << 31 | h >> 33) * 0xc4ceb9fe1a85ec53ull;
    }
    h ^= h >> 33;
    return static_cast<size_t>(h);
}

quic_connection_table::flow_map::iterator quic_connection_table::find(const flow_key& key, int64_t now_us,
                                                                      const quic_limits& limits) {
    auto it = flows_.find(key);
    if (it == flows_.end()) return it;
    // Idleness is judged by capture time when the flow is next seen, so
    // that it does not depend on which other flows share the table.
    if (now_us - it->second.last_us > limits.idle_timeout_us) {
        forget(it);
        return flows_.end();
    }
    it->second.last_us = now_us;
    ages_.splice(ages_.end(), ages_, it->second.age);
    return it;
}

void quic_connection_table::forget(flow_map::iterator it) {
    ages_.erase(it->second.age);
    flows_.erase(it);
}

void quic_connection_table::add(flow& f, bool to_high, const uint8_t* id, uint8_t length, const quic_limits& limits) {
    if (length > 20) return;
    for (const receiver_id& known : f.ids)
        if (known.to_high == to_high && known.id.length == length && memcmp(known.id.bytes.data(), id, length) == 0)
            return;
    if (f.ids.size() >= limits.ids_per_flow) f.ids.erase(f.ids.begin());
    receiver_id r{to_high, {}};
    r.id.length = length;
    if (length) memcpy(r.id.bytes.data(), id, length);
    f.ids.push_back(r);
}

void quic_connection_table::learn(const quic_endpoint& from, const quic_endpoint& to, const uint8_t* dcid,
                                  uint8_t dcid_length, const uint8_t* scid, uint8_t scid_length, int64_t now_us,
                                  const quic_limits& limits) {
    if (limits.flows == 0 || limits.ids_per_flow == 0) return;
    bool to_is_high = from < to;
    flow_key key = to_is_high ? flow_key{from, to} : flow_key{to, from};
    auto it = find(key, now_us, limits);
    if (it == flows_.end()) {
        if (flows_.size() >= limits.flows) forget(flows_.find(ages_.front()));
        it = flows_.emplace(key, flow{}).first;
        it->second.last_us = now_us;
        it->second.age = ages_.insert(ages_.end(), key);
    }
    // A client's first destination id is its own invention and may be
    // empty only by mistake; an empty source id is a choice that holds for
    // the whole connection.
    if (dcid_length) add(it->second, to_is_high, dcid, dcid_length, limits);
    add(it->second, !to_is_high, scid, scid_length, limits);
}

bool quic_connection_table::match(const quic_endpoint& from, const quic_endpoint& to, const uint8_t* p, size_t n,
                                  int64_t now_us, quic_connection_id& found, const quic_limits& limits) {
    bool to_is_high = from < to;
    flow_key key = to_is_high ? flow_key{from, to} : flow_key{to, from};
    auto it = find(key, now_us, limits);
    if (it == flows_.end()) return false;
    const quic_connection_id* best = nullptr;
    for (const receiver_id& known : it->second.ids)
        if (known.to_high == to_is_high && known.id.length <= n &&
            memcmp(known.id.bytes.data(), p, known.id.length) == 0 && (!best || known.id.length > best->length))
            best = &known.id;
    if (!best) return false;
    found = *best;
    return true;
}
