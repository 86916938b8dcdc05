// HPACK header compression (RFC 7541): one header block decoded against a
// direction's dynamic table, which it updates as the encoder did.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "decode/app/sessions.h"

// The dynamic table never grows beyond this, whatever the peer allows.
constexpr size_t hpack_hard_cap = 64 * 1024;

struct hpack_result {
    std::vector<std::pair<std::string, std::string>> headers;
    // Why the block could not be decoded to its end, or null.
    const char* error = nullptr;
};

// Decodes the block [p, p + n), bytes already checked to be captured.
// At most max_headers fields are kept; names and values are cut at
// max_text bytes.
hpack_result hpack_decode(hpack_table& table, const uint8_t* p, size_t n);

// Huffman-decodes [p, p + n) (RFC 7541 5.2); false when the code is
// invalid (an EOS symbol, padding longer than 7 bits or not all ones).
bool hpack_huffman(const uint8_t* p, size_t n, std::string& out);
