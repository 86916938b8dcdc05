#pragma once

#include <cstddef>
#include <cstdint>

struct vendor_record {
    const char* name;  // blank-padded to 30 characters
    uint8_t oui[3];
};

// In table order: where a prefix stands twice, the earlier row names it.
extern const vendor_record vendor_table[];
extern const size_t vendor_table_size;
