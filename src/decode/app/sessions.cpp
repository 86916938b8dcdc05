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

void announce_media(decode_context& cx, const media_key& key, const media_info& info) {
    app_sessions& s = sessions_of(cx);
    auto it = s.media.find(key);
    if (it != s.media.end()) {
        it->second = info;
        return;
    }
    if (s.media.size() >= max_media && !s.media_order.empty()) {
        s.media.erase(s.media_order.front());
        s.media_order.pop_front();
    }
    s.media.emplace(key, info);
    s.media_order.push_back(key);
}

const media_info* find_media(decode_context& cx, const media_key& key) {
    if (!cx.sessions) return nullptr;
    auto it = cx.sessions->media.find(key);
    return it == cx.sessions->media.end() ? nullptr : &it->second;
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
