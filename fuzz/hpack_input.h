// HPACK header blocks against one dynamic table, as a connection's blocks
// follow each other: the peer's table limit (one byte, in 256-byte steps),
// then blocks of a length byte and that many bytes. The table must stay
// within its bounds and its size must be the sum of its entries whatever
// the blocks hold. Used by the fuzz target and the corpus replay test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "decode/app/hpack.h"

namespace fuzz {

inline void hpack_input(const uint8_t* data, size_t size) {
    hpack_table table;
    if (size > 0) {
        table.limit = size_t{data[0]} << 8;
        ++data;
        --size;
    }
    std::string text;
    hpack_huffman(data, size, text);
    while (size > 0) {
        size_t n = data[0] < size - 1 ? data[0] : size - 1;
        hpack_decode(table, data + 1, n);
        size_t sum = 0;
        for (const auto& e : table.entries) sum += e.first.size() + e.second.size() + 32;
        if (sum != table.size || table.size > table.max_size || table.max_size > hpack_hard_cap) abort();
        data += n + 1;
        size -= n + 1;
    }
}

}  // namespace fuzz
