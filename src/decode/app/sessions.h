// Application state kept from frame to frame in a decoding context: the
// HTTP/2 connections (each direction's header table), the media ports
// that SDP announced, and the ports of FTP data and TFTP transfers. Every
// frame of one address pair reaches the same context in frame order, so a
// connection's frames all meet here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <list>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "decode/reassembly/tcp_streams.h"

struct decode_context;

// The HPACK dynamic table of one direction (RFC 7541 2.3.2): newest first.
struct hpack_table {
    std::deque<std::pair<std::string, std::string>> entries;
    size_t size = 0;         // the sum of the entries' sizes (name + value + 32)
    size_t max_size = 4096;  // the current maximum, set by the encoder
    size_t limit = 4096;     // SETTINGS_HEADER_TABLE_SIZE of the peer
};

// One direction of an HTTP/2 connection.
struct h2_direction {
    hpack_table table;
    // Frames follow from here on (after the preface, or after the 101
    // answer to an h2c upgrade).
    bool framed = false;
    // A header block that CONTINUATION frames complete.
    std::string block;
    uint32_t block_stream = 0;
    bool in_block = false;
    // A block failed to decode: the table no longer follows the encoder's.
    bool table_lost = false;
    // Its place in app_sessions::h2_order.
    std::list<tcp_flow_key>::iterator order;
};

struct media_key {
    std::array<uint8_t, 16> address{};  // IPv4 in the first four bytes
    uint16_t port = 0;
    auto operator<=>(const media_key&) const = default;
};

// What an SDP media line announced for one address and port.
struct media_info {
    bool rtcp = false;                                     // the port after an RTP port
    std::vector<std::pair<uint8_t, std::string>> formats;  // rtpmap: payload type, encoding
};

// The traffic that a control exchange announced on a port: an FTP data
// connection (PASV, EPSV, PORT, EPRT), a TFTP transfer (the requester's
// port, which the server's datagrams come back to).
enum class follower : uint8_t { ftp_pasv, ftp_epsv, ftp_port, ftp_eprt, tftp };

struct app_sessions {
    std::unordered_map<tcp_flow_key, h2_direction, tcp_flow_hash> h2;
    std::list<tcp_flow_key> h2_order;  // least recently used first, to bound the table
    std::map<media_key, media_info> media;
    std::list<media_key> media_order;
    std::map<media_key, follower> followed;
    std::list<media_key> followed_order;
    // A number a connection's first message set for the rest of it (the
    // MQTT protocol level of CONNECT), by the flow key of either direction
    // (the lesser).
    std::map<tcp_flow_key, uint8_t> connection_notes;
    std::list<tcp_flow_key> connection_order;
    // Under --where a frame may be decoded twice: the state of each
    // direction the first decoding changed, as it was before, so that the
    // second decoding starts from the same state.
    bool keeping = false;
    std::vector<std::pair<tcp_flow_key, h2_direction>> saved;
    std::vector<tcp_flow_key> added;
};

app_sessions& sessions_of(decode_context& cx);

// The HTTP/2 direction of this key, or null when the flow is not HTTP/2.
h2_direction* find_h2(decode_context& cx, const tcp_flow_key& key);
// The direction of `key`, made when new (the preface, an h2c upgrade);
// its state is saved first when a frame may be decoded again.
h2_direction& touch_h2(decode_context& cx, const tcp_flow_key& key);

// The TCP flow key of the segment being decoded, from the IP pseudo-header
// and the ports; false when there is none.
bool current_flow(const decode_context& cx, tcp_flow_key& key, bool reverse = false);

void announce_media(decode_context& cx, const media_key& key, const media_info& info);
const media_info* find_media(decode_context& cx, const media_key& key);

// Either end (destination, or source) of the datagram or segment being
// decoded; false without an IP header.
bool endpoint_of(const decode_context& cx, bool destination, media_key& key);
// Remembers that traffic to or from the address and port is `kind`.
void announce_follower(decode_context& cx, const media_key& key, follower kind);
// What an end of the current datagram or segment was announced for.
const follower* find_follower(decode_context& cx);

// Remembers a number for the TCP connection of the current segment, and
// recalls it in either direction; -1 when none was.
void note_connection(decode_context& cx, uint8_t value);
int connection_note(decode_context& cx);

// The frame loop's calls around a frame decoded twice.
void sessions_keep(decode_context& cx);
void sessions_rewind(decode_context& cx);
