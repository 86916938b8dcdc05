// HPACK header blocks against one dynamic table, as a connection's blocks
// follow each other: each block is a length byte and that many bytes. The
// table must stay within its bounds and its size must be the sum of its
// entries whatever the blocks hold.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "decode/app/hpack.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    hpack_table table;
    if (size > 0) {
        // The peer's SETTINGS_HEADER_TABLE_SIZE, 0 to 64 KiB.
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
    return 0;
}
