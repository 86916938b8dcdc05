// Builders for iptrace 2.0 and snoop files, plain or gzip-compressed.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <stdexcept>
#include <string>

#include "support.h"

namespace trace {

using test::bytes;

inline void put_be32(bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.at(at + i) = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// An Ethernet frame of `size` bytes with an EtherType nodrix does not
// decode, so that each frame prints only its banner.
inline bytes ethernet_frame(size_t size = 60, uint8_t fill = 0) {
    bytes f = test::hex("020000000002 020000000001 88b5");
    f.resize(size, fill);
    return f;
}

// A record of iptrace 2.0: record length, interface type, big-endian time.
inline bytes iptrace_record(const bytes& frame, uint8_t interface_type = 6, uint32_t seconds = 45296,
                            long record_length = -1) {
    bytes h(40, 0);
    put_be32(h, 0, record_length < 0 ? static_cast<uint32_t>(frame.size() + 32) : static_cast<uint32_t>(record_length));
    h[28] = interface_type;
    put_be32(h, 32, seconds);
    return test::concat({h, frame});
}

inline bytes iptrace_file(std::initializer_list<bytes> records, const std::string& version = "iptrace 2.0") {
    bytes f(version.begin(), version.end());
    for (const auto& r : records) f.insert(f.end(), r.begin(), r.end());
    return f;
}

// A snoop record holding the first `included` bytes of the frame (all by
// default), padded to a multiple of 4 unless a record length is given.
inline bytes snoop_record(const bytes& frame, uint32_t seconds = 45296, long included = -1, long wire = -1,
                          long record_length = -1) {
    uint32_t incl = included < 0 ? static_cast<uint32_t>(frame.size()) : static_cast<uint32_t>(included);
    bytes data(frame.begin(), frame.begin() + std::min<size_t>(incl, frame.size()));
    data.resize((data.size() + 3) / 4 * 4, 0);
    bytes h(24, 0);
    put_be32(h, 0, wire < 0 ? static_cast<uint32_t>(frame.size()) : static_cast<uint32_t>(wire));
    put_be32(h, 4, incl);
    put_be32(h, 8, record_length < 0 ? static_cast<uint32_t>(24 + data.size()) : static_cast<uint32_t>(record_length));
    put_be32(h, 16, seconds);
    put_be32(h, 20, 123456);
    return test::concat({h, data});
}

inline bytes snoop_file(std::initializer_list<bytes> records, uint32_t datalink = 4, uint32_t version = 2,
                        const bytes& magic = test::hex("736e6f6f70000000")) {
    bytes f = magic;
    f.resize(16, 0);
    put_be32(f, 8, version);
    put_be32(f, 12, datalink);
    for (const auto& r : records) f.insert(f.end(), r.begin(), r.end());
    return f;
}

// The gzip form of the bytes.
inline bytes gzip(const bytes& data) {
    z_stream z{};
    if (deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::runtime_error("deflate");
    bytes out(deflateBound(&z, data.size()) + 32);
    z.next_in = const_cast<uint8_t*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

inline bytes prefix(const bytes& b, size_t n) { return bytes(b.begin(), b.begin() + static_cast<long>(n)); }

}  // namespace trace
