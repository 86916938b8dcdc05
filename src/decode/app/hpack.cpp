#include "decode/app/hpack.h"

#include <array>
#include <cstring>

namespace {

// Fields kept of one block, and the length of a name or value shown: the
// table still takes every entry whole.
constexpr size_t max_headers = 256;
constexpr size_t max_string = 64 * 1024;

// (code, bit length) of each symbol, 0 to 255 and EOS (256).
constexpr struct {
    uint32_t code;
    uint8_t bits;
} huffman_codes[257] = {
    {0x1ff8, 13},    {0x7fffd8, 23},   {0xfffffe2, 28}, {0xfffffe3, 28}, {0xfffffe4, 28},  {0xfffffe5, 28},
    {0xfffffe6, 28}, {0xfffffe7, 28},  {0xfffffe8, 28}, {0xffffea, 24},  {0x3ffffffc, 30}, {0xfffffe9, 28},
    {0xfffffea, 28}, {0x3ffffffd, 30}, {0xfffffeb, 28}, {0xfffffec, 28}, {0xfffffed, 28},  {0xfffffee, 28},
    {0xfffffef, 28}, {0xffffff0, 28},  {0xffffff1, 28}, {0xffffff2, 28}, {0x3ffffffe, 30}, {0xffffff3, 28},
    {0xffffff4, 28}, {0xffffff5, 28},  {0xffffff6, 28}, {0xffffff7, 28}, {0xffffff8, 28},  {0xffffff9, 28},
    {0xffffffa, 28}, {0xffffffb, 28},  {0x14, 6},       {0x3f8, 10},     {0x3f9, 10},      {0xffa, 12},
    {0x1ff9, 13},    {0x15, 6},        {0xf8, 8},       {0x7fa, 11},     {0x3fa, 10},      {0x3fb, 10},
    {0xf9, 8},       {0x7fb, 11},      {0xfa, 8},       {0x16, 6},       {0x17, 6},        {0x18, 6},
    {0x0, 5},        {0x1, 5},         {0x2, 5},        {0x19, 6},       {0x1a, 6},        {0x1b, 6},
    {0x1c, 6},       {0x1d, 6},        {0x1e, 6},       {0x1f, 6},       {0x5c, 7},        {0xfb, 8},
    {0x7ffc, 15},    {0x20, 6},        {0xffb, 12},     {0x3fc, 10},     {0x1ffa, 13},     {0x21, 6},
    {0x5d, 7},       {0x5e, 7},        {0x5f, 7},       {0x60, 7},       {0x61, 7},        {0x62, 7},
    {0x63, 7},       {0x64, 7},        {0x65, 7},       {0x66, 7},       {0x67, 7},        {0x68, 7},
    {0x69, 7},       {0x6a, 7},        {0x6b, 7},       {0x6c, 7},       {0x6d, 7},        {0x6e, 7},
    {0x6f, 7},       {0x70, 7},        {0x71, 7},       {0x72, 7},       {0xfc, 8},        {0x73, 7},
    {0xfd, 8},       {0x1ffb, 13},     {0x7fff0, 19},   {0x1ffc, 13},    {0x3ffc, 14},     {0x22, 6},
    {0x7ffd, 15},    {0x3, 5},         {0x23, 6},       {0x4, 5},        {0x24, 6},        {0x5, 5},
    {0x25, 6},       {0x26, 6},        {0x27, 6},       {0x6, 5},        {0x74, 7},        {0x75, 7},
    {0x28, 6},       {0x29, 6},        {0x2a, 6},       {0x7, 5},        {0x2b, 6},        {0x76, 7},
    {0x2c, 6},       {0x8, 5},         {0x9, 5},        {0x2d, 6},       {0x77, 7},        {0x78, 7},
    {0x79, 7},       {0x7a, 7},        {0x7b, 7},       {0x7ffe, 15},    {0x7fc, 11},      {0x3ffd, 14},
    {0x1ffd, 13},    {0xffffffc, 28},  {0xfffe6, 20},   {0x3fffd2, 22},  {0xfffe7, 20},    {0xfffe8, 20},
    {0x3fffd3, 22},  {0x3fffd4, 22},   {0x3fffd5, 22},  {0x7fffd9, 23},  {0x3fffd6, 22},   {0x7fffda, 23},
    {0x7fffdb, 23},  {0x7fffdc, 23},   {0x7fffdd, 23},  {0x7fffde, 23},  {0xffffeb, 24},   {0x7fffdf, 23},
    {0xffffec, 24},  {0xffffed, 24},   {0x3fffd7, 22},  {0x7fffe0, 23},  {0xffffee, 24},   {0x7fffe1, 23},
    {0x7fffe2, 23},  {0x7fffe3, 23},   {0x7fffe4, 23},  {0x1fffdc, 21},  {0x3fffd8, 22},   {0x7fffe5, 23},
    {0x3fffd9, 22},  {0x7fffe6, 23},   {0x7fffe7, 23},  {0xffffef, 24},  {0x3fffda, 22},   {0x1fffdd, 21},
    {0xfffe9, 20},   {0x3fffdb, 22},   {0x3fffdc, 22},  {0x7fffe8, 23},  {0x7fffe9, 23},   {0x1fffde, 21},
    {0x7fffea, 23},  {0x3fffdd, 22},   {0x3fffde, 22},  {0xfffff0, 24},  {0x1fffdf, 21},   {0x3fffdf, 22},
    {0x7fffeb, 23},  {0x7fffec, 23},   {0x1fffe0, 21},  {0x1fffe1, 21},  {0x3fffe0, 22},   {0x1fffe2, 21},
    {0x7fffed, 23},  {0x3fffe1, 22},   {0x7fffee, 23},  {0x7fffef, 23},  {0xfffea, 20},    {0x3fffe2, 22},
    {0x3fffe3, 22},  {0x3fffe4, 22},   {0x7ffff0, 23},  {0x3fffe5, 22},  {0x3fffe6, 22},   {0x7ffff1, 23},
    {0x3ffffe0, 26}, {0x3ffffe1, 26},  {0xfffeb, 20},   {0x7fff1, 19},   {0x3fffe7, 22},   {0x7ffff2, 23},
    {0x3fffe8, 22},  {0x1ffffec, 25},  {0x3ffffe2, 26}, {0x3ffffe3, 26}, {0x3ffffe4, 26},  {0x7ffffde, 27},
    {0x7ffffdf, 27}, {0x3ffffe5, 26},  {0xfffff1, 24},  {0x1ffffed, 25}, {0x7fff2, 19},    {0x1fffe3, 21},
    {0x3ffffe6, 26}, {0x7ffffe0, 27},  {0x7ffffe1, 27}, {0x3ffffe7, 26}, {0x7ffffe2, 27},  {0xfffff2, 24},
    {0x1fffe4, 21},  {0x1fffe5, 21},   {0x3ffffe8, 26}, {0x3ffffe9, 26}, {0xffffffd, 28},  {0x7ffffe3, 27},
    {0x7ffffe4, 27}, {0x7ffffe5, 27},  {0xfffec, 20},   {0xfffff3, 24},  {0xfffed, 20},    {0x1fffe6, 21},
    {0x3fffe9, 22},  {0x1fffe7, 21},   {0x1fffe8, 21},  {0x7ffff3, 23},  {0x3fffea, 22},   {0x3fffeb, 22},
    {0x1ffffee, 25}, {0x1ffffef, 25},  {0xfffff4, 24},  {0xfffff5, 24},  {0x3ffffea, 26},  {0x7ffff4, 23},
    {0x3ffffeb, 26}, {0x7ffffe6, 27},  {0x3ffffec, 26}, {0x3ffffed, 26}, {0x7ffffe7, 27},  {0x7ffffe8, 27},
    {0x7ffffe9, 27}, {0x7ffffea, 27},  {0x7ffffeb, 27}, {0xffffffe, 28}, {0x7ffffec, 27},  {0x7ffffed, 27},
    {0x7ffffee, 27}, {0x7ffffef, 27},  {0x7fffff0, 27}, {0x3ffffee, 26}, {0x3fffffff, 30},
};
// The static table (RFC 7541 Appendix A), from index 1.
constexpr std::pair<const char*, const char*> static_table[] = {
    {":authority", ""},
    {":method", "GET"},
    {":method", "POST"},
    {":path", "/"},
    {":path", "/index.html"},
    {":scheme", "http"},
    {":scheme", "https"},
    {":status", "200"},
    {":status", "204"},
    {":status", "206"},
    {":status", "304"},
    {":status", "400"},
    {":status", "404"},
    {":status", "500"},
    {"accept-charset", ""},
    {"accept-encoding", "gzip, deflate"},
    {"accept-language", ""},
    {"accept-ranges", ""},
    {"accept", ""},
    {"access-control-allow-origin", ""},
    {"age", ""},
    {"allow", ""},
    {"authorization", ""},
    {"cache-control", ""},
    {"content-disposition", ""},
    {"content-encoding", ""},
    {"content-language", ""},
    {"content-length", ""},
    {"content-location", ""},
    {"content-range", ""},
    {"content-type", ""},
    {"cookie", ""},
    {"date", ""},
    {"etag", ""},
    {"expect", ""},
    {"expires", ""},
    {"from", ""},
    {"host", ""},
    {"if-match", ""},
    {"if-modified-since", ""},
    {"if-none-match", ""},
    {"if-range", ""},
    {"if-unmodified-since", ""},
    {"last-modified", ""},
    {"link", ""},
    {"location", ""},
    {"max-forwards", ""},
    {"proxy-authenticate", ""},
    {"proxy-authorization", ""},
    {"range", ""},
    {"referer", ""},
    {"refresh", ""},
    {"retry-after", ""},
    {"server", ""},
    {"set-cookie", ""},
    {"strict-transport-security", ""},
    {"transfer-encoding", ""},
    {"user-agent", ""},
    {"vary", ""},
    {"via", ""},
    {"www-authenticate", ""},
};

constexpr size_t static_count = sizeof static_table / sizeof static_table[0];

// Canonical decoding: codes of one length are consecutive, and longer
// codes come after shorter ones.
struct huffman_decoder {
    std::array<uint32_t, 31> first{};   // first code of each length
    std::array<uint16_t, 31> count{};   // codes of each length
    std::array<uint16_t, 31> offset{};  // index in `symbols` of the first
    std::array<uint16_t, 257> symbols{};

    huffman_decoder() {
        uint16_t k = 0;
        for (unsigned bits = 5; bits <= 30; ++bits) {
            offset[bits] = k;
            uint32_t lowest = UINT32_MAX;
            for (unsigned s = 0; s < 257; ++s)
                if (huffman_codes[s].bits == bits) {
                    if (huffman_codes[s].code < lowest) lowest = huffman_codes[s].code;
                    ++count[bits];
                }
            first[bits] = lowest;
            // Symbols in code order within a length.
            for (uint32_t c = 0; c < count[bits]; ++c)
                for (unsigned s = 0; s < 257; ++s)
                    if (huffman_codes[s].bits == bits && huffman_codes[s].code == lowest + c)
                        symbols[k++] = static_cast<uint16_t>(s);
        }
    }
};

const huffman_decoder& decoder() {
    static const huffman_decoder d;
    return d;
}

size_t entry_size(const std::pair<std::string, std::string>& e) { return e.first.size() + e.second.size() + 32; }

void evict(hpack_table& t, size_t room) {
    while (!t.entries.empty() && t.size + room > t.max_size) {
        t.size -= entry_size(t.entries.back());
        t.entries.pop_back();
    }
}

void insert(hpack_table& t, std::pair<std::string, std::string> e) {
    size_t size = entry_size(e);
    // An entry larger than the table empties it and is not kept (4.4).
    evict(t, size);
    if (size > t.max_size) return;
    t.size += size;
    t.entries.push_front(std::move(e));
}

struct reader {
    const uint8_t* p;
    const uint8_t* end;

    // An integer with an n-bit prefix (5.1); false when cut or too large.
    bool integer(unsigned n, size_t& value) {
        if (p >= end) return false;
        size_t mask = (1u << n) - 1;
        value = *p++ & mask;
        if (value < mask) return true;
        for (unsigned shift = 0; shift <= 28; shift += 7) {
            if (p >= end) return false;
            uint8_t b = *p++;
            value += size_t{b & 0x7fu} << shift;
            if (!(b & 0x80)) return true;
        }
        return false;
    }
    const char* string(std::string& out) {
        if (p >= end) return "a string is cut short";
        bool huffman = *p & 0x80;
        size_t length;
        if (!integer(7, length)) return "an integer too large or cut short";
        if (length > static_cast<size_t>(end - p)) return "a string runs past the block";
        if (length > max_string) return "a string longer than 64 KiB";
        if (huffman) {
            if (!hpack_huffman(p, length, out)) return "an invalid Huffman code";
        } else {
            out.assign(reinterpret_cast<const char*>(p), length);
        }
        p += length;
        return nullptr;
    }
};

// Entry i of the combined index space (2.3.3); false when out of range.
bool lookup(const hpack_table& t, size_t i, std::pair<std::string, std::string>& e) {
    if (i == 0) return false;
    if (i <= static_count) {
        e = {static_table[i - 1].first, static_table[i - 1].second};
        return true;
    }
    i -= static_count + 1;
    if (i >= t.entries.size()) return false;
    e = t.entries[i];
    return true;
}

}  // namespace

bool hpack_huffman(const uint8_t* p, size_t n, std::string& out) {
    const huffman_decoder& d = decoder();
    out.clear();
    uint32_t code = 0;
    unsigned bits = 0;
    for (size_t i = 0; i < n; ++i)
        for (int b = 7; b >= 0; --b) {
            code = code << 1 | ((p[i] >> b) & 1u);
            ++bits;
            if (bits < 5) continue;
            if (bits > 30) return false;
            if (d.count[bits] && code >= d.first[bits] && code - d.first[bits] < d.count[bits]) {
                uint16_t symbol = d.symbols[d.offset[bits] + (code - d.first[bits])];
                if (symbol == 256) return false;
                out.push_back(static_cast<char>(symbol));
                code = 0;
                bits = 0;
            }
        }
    // Padding: the most significant bits of EOS, all ones, under 8 bits.
    return bits < 8 && code == (1u << bits) - 1;
}

hpack_result hpack_decode(hpack_table& t, const uint8_t* p, size_t n) {
    hpack_result r;
    reader in{p, p + n};
    bool seen_field = false;
    while (in.p < in.end) {
        uint8_t b = *in.p;
        std::pair<std::string, std::string> e;
        if (b & 0x80) {
            size_t index;
            if (!in.integer(7, index)) return r.error = "an integer too large or cut short", r;
            if (!lookup(t, index, e)) return r.error = "an index beyond the tables", r;
        } else if ((b & 0xe0) == 0x20) {
            // A table size update comes before the first field (4.2).
            size_t size;
            if (!in.integer(5, size)) return r.error = "an integer too large or cut short", r;
            if (seen_field) return r.error = "a table size update after a field", r;
            if (size > t.limit || size > hpack_hard_cap) return r.error = "a table size above the limit", r;
            t.max_size = size;
            evict(t, 0);
            continue;
        } else {
            bool indexing = (b & 0xc0) == 0x40;
            size_t index;
            if (!in.integer(indexing ? 6 : 4, index)) return r.error = "an integer too large or cut short", r;
            if (index) {
                if (!lookup(t, index, e)) return r.error = "an index beyond the tables", r;
            } else if (const char* error = in.string(e.first)) {
                return r.error = error, r;
            }
            if (const char* error = in.string(e.second)) return r.error = error, r;
            if (indexing) insert(t, e);
        }
        seen_field = true;
        if (r.headers.size() < max_headers) r.headers.push_back(std::move(e));
    }
    return r;
}
