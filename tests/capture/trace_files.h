// Builders for iptrace 2.0 and snoop files, plain or gzip-compressed.
#pragma once

#include <zlib.h>

#include <string>

#include "support.h"

namespace trace {

using test::bytes;

inline void put_be32(bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.at(at + i) = static_cast<uint8_t>(v >> (24 - 8 * i));
}

inline bytes prefix(const bytes& b, size_t n) { return bytes(b.begin(), b.begin() + static_cast<long>(n)); }

// An Ethernet frame whose EtherType nodrix does not decode: only its banner shows.
inline bytes ethernet_frame(size_t size = 60) {
    bytes f = test::hex("020000000002 020000000001 88b5");
    f.resize(size, 0x5a);
    return f;
}

// An iptrace 2.0 record: record length (frame + 32), interface type, big-endian seconds.
inline bytes iptrace_record(const bytes& frame, uint8_t interface_type = 6, uint32_t seconds = 45296,
                            long record_length = -1) {
    bytes h(40, 0);
    put_be32(h, 0, static_cast<uint32_t>(record_length < 0 ? frame.size() + 32 : record_length));
    h[28] = interface_type;
    put_be32(h, 32, seconds);
    return test::concat({h, frame});
}

inline bytes iptrace_file(std::initializer_list<bytes> records) {
    bytes f = {'i', 'p', 't', 'r', 'a', 'c', 'e', ' ', '2', '.', '0'};
    for (const auto& r : records) f.insert(f.end(), r.begin(), r.end());
    return f;
}

// A snoop record of the frame's first `included` bytes, padded to 4 unless a
// record length is given.
inline bytes snoop_record(const bytes& frame, uint32_t seconds = 45296, long included = -1, long record_length = -1) {
    size_t incl = included < 0 ? frame.size() : static_cast<size_t>(included);
    bytes data = prefix(frame, std::min(incl, frame.size()));
    data.resize((data.size() + 3) / 4 * 4, 0);
    bytes h(24, 0);
    put_be32(h, 0, static_cast<uint32_t>(frame.size()));
    put_be32(h, 4, static_cast<uint32_t>(incl));
    put_be32(h, 8, static_cast<uint32_t>(record_length < 0 ? 24 + data.size() : record_length));
    put_be32(h, 16, seconds);
    return test::concat({h, data});
}

inline bytes snoop_file(std::initializer_list<bytes> records, uint32_t datalink = 4, uint32_t version = 2) {
    bytes f = test::hex("736e6f6f70000000 00000000 00000000");
    put_be32(f, 8, version);
    put_be32(f, 12, datalink);
    for (const auto& r : records) f.insert(f.end(), r.begin(), r.end());
    return f;
}

inline bytes gzip(const bytes& data) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    bytes out(deflateBound(&z, data.size()) + 32);
    z.next_in = const_cast<uint8_t*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

}  // namespace trace
