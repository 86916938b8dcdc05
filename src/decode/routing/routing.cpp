#include "decode/routing/routing.h"

void print_message_checksum_verdict(decode_context& cx, const uint8_t* p, size_t field_offset, uint32_t& bad_counter,
                                    size_t limit) {
    if (!settings.calc_checksums) return;
    uint16_t transmitted = get_be16(cx, p + field_offset);
    size_t length = ip_message_length(cx, p);
    // A region that ends before the cut can still be judged.
    if (!checksum_judgeable(cx) && length < limit) return;
    if (length > limit) length = limit;
    print_checksum_verdict(cx, transmitted, expected_checksum(cx, p, length, field_offset), bad_counter);
}
