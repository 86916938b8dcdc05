#include "decode/app/sessions.h"

#include <algorithm>
#include <cstring>

#include "decode/context.h"
#include "decode/decoder.h"

namespace {

// Connections and announced ports one context follows at a time; the
// oldest goes when a new one would exceed this.
constexpr size_t max_h2_directions = 4096;
constexpr size_t max_media = 4096;

}  // namespace

void app_sessions_free::operator()(app_sessions* s) const { delete s; }

app_sessions& sessions_of(decode_context& cx) {
    if (!cx.sessions) cx.sessions.reset(new app_sessions);
    return *cx.sessions;
}

bool current_flow(const decode_context& cx, tcp_flow_key& key, bool reverse) {
    const ip_pseudo_header& ip = cx.pseudo;
    if (ip.version != 4 && ip.version != 6) return false;
    key = tcp_flow_key{};
    size_t n = ip.version == 4 ? 4 : 16;
    memcpy(key.source.data(), reverse ? ip.destination : ip.source, n);
    memcpy(key.destination.data(), reverse ? ip.source : ip.destination, n);
    key.source_port = reverse ? cx.destination_port : cx.source_port;
    key.destination_port = reverse ? cx.source_port : cx.destination_port;
    return true;
}

h2_direction* find_h2(decode_context& cx, const tcp_flow_key& key) {
    if (!cx.sessions) return nullptr;
    auto it = cx.sessions->h2.find(key);
    return it == cx.sessions->h2.end() ? nullptr : &it->second;
}

h2_direction& touch_h2(decode_context& cx, const tcp_flow_key& key) {
    app_sessions& s = sessions_of(cx);
    auto it = s.h2.find(key);
    bool fresh = it == s.h2.end();
    if (s.keeping) {
        bool seen = std::any_of(s.saved.begin(), s.saved.end(), [&](const auto& e) { return e.first == key; }) ||
                    std::find(s.added.begin(), s.added.end(), key) != s.added.end();
        if (!seen) {
            if (fresh)
                s.added.push_back(key);
            else
                s.saved.emplace_back(key, it->second);
        }
    }
    if (!fresh) {
        // The most recently used goes last: the oldest is evicted first,
        // never one in use by the frame being decoded.
        s.h2_order.splice(s.h2_order.end(), s.h2_order, it->second.order);
        return it->second;
    }
    if (s.h2.size() >= max_h2_directions && !s.h2_order.empty()) {
        s.h2.erase(s.h2_order.front());
        s.h2_order.pop_front();
    }
    h2_direction& d = s.h2[key];
    d.order = s.h2_order.insert(s.h2_order.end(), key);
    return d;
}

namespace {

// Sets what `key` stands for; past max_media endpoints the one announced
// first is forgotten.
template <typename Value>
void remember_endpoint(std::map<media_key, Value>& known, std::list<media_key>& order, const media_key& key,
                       const Value& value) {
    auto it = known.find(key);
    if (it != known.end()) {
        it->second = value;
        return;
    }
    if (known.size() >= max_media && !order.empty()) {
        known.erase(order.front());
        order.pop_front();
    }
    known.emplace(key, value);
    order.push_back(key);
}

}  // namespace

void announce_media(decode_context& cx, const media_key& key, const media_info& info) {
    app_sessions& s = sessions_of(cx);
    remember_endpoint(s.media, s.media_order, key, info);
}

const media_info* find_media(decode_context& cx, const media_key& key) {
    if (!cx.sessions) return nullptr;
    auto it = cx.sessions->media.find(key);
    return it == cx.sessions->media.end() ? nullptr : &it->second;
}

bool endpoint_of(const decode_context& cx, bool destination, media_key& key) {
    const ip_pseudo_header& ip = cx.pseudo;
    if (ip.version != 4 && ip.version != 6) return false;
    key = media_key{};
    memcpy(key.address.data(), destination ? ip.destination : ip.source, ip.version == 4 ? 4 : 16);
    key.port = destination ? cx.destination_port : cx.source_port;
    return true;
}

void announce_follower(decode_context& cx, const media_key& key, follower kind) {
    app_sessions& s = sessions_of(cx);
    remember_endpoint(s.followed, s.followed_order, key, kind);
}

const follower* find_follower(decode_context& cx) {
    if (!cx.sessions || cx.sessions->followed.empty()) return nullptr;
    media_key key;
    for (bool destination : {true, false}) {
        if (!endpoint_of(cx, destination, key)) return nullptr;
        auto it = cx.sessions->followed.find(key);
        if (it != cx.sessions->followed.end()) return &it->second;
    }
    return nullptr;
}

namespace {

bool connection_key(const decode_context& cx, tcp_flow_key& key) {
    tcp_flow_key back;
    if (!current_flow(cx, key) || !current_flow(cx, back, true)) return false;
    if (back < key) key = back;
    return true;
}

}  // namespace

void note_connection(decode_context& cx, uint8_t value) {
    tcp_flow_key key;
    if (!connection_key(cx, key)) return;
    app_sessions& s = sessions_of(cx);
    auto it = s.connection_notes.find(key);
    if (it != s.connection_notes.end()) {
        it->second = value;
        return;
    }
    if (s.connection_notes.size() >= max_media && !s.connection_order.empty()) {
        s.connection_notes.erase(s.connection_order.front());
        s.connection_order.pop_front();
    }
    s.connection_notes.emplace(key, value);
    s.connection_order.push_back(key);
}

int connection_note(decode_context& cx) {
    tcp_flow_key key;
    if (!cx.sessions || cx.sessions->connection_notes.empty() || !connection_key(cx, key)) return -1;
    auto it = cx.sessions->connection_notes.find(key);
    return it == cx.sessions->connection_notes.end() ? -1 : it->second;
}

void sessions_keep(decode_context& cx) {
    if (!cx.sessions) return;
    cx.sessions->keeping = true;
    cx.sessions->saved.clear();
    cx.sessions->added.clear();
}

void sessions_rewind(decode_context& cx) {
    if (!cx.sessions) return;
    app_sessions& s = *cx.sessions;
    for (const auto& key : s.added) {
        auto it = s.h2.find(key);
        if (it == s.h2.end()) continue;
        s.h2_order.erase(it->second.order);
        s.h2.erase(it);
    }
    for (auto& [key, state] : s.saved) {
        auto it = s.h2.find(key);
        std::list<tcp_flow_key>::iterator order =
            it == s.h2.end() ? s.h2_order.insert(s.h2_order.end(), key) : it->second.order;
        state.order = order;
        s.h2[key] = std::move(state);
    }
    s.keeping = false;
    s.saved.clear();
    s.added.clear();
}
