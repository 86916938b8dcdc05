#include "decode/app/inner_frame.h"

#include "decode/decoder.h"
#include "decode/link/ethernet.h"

namespace {

// The outer link header length comes back however the inner decoding
// ends, since the next frame of the capture needs it.
class inner_link_header {
   public:
    explicit inner_link_header(unsigned length) : saved_(capture.link_header_length) {
        capture.link_header_length = length;
    }
    ~inner_link_header() { capture.link_header_length = saved_; }
    inner_link_header(const inner_link_header&) = delete;
    inner_link_header& operator=(const inner_link_header&) = delete;

   private:
    unsigned saved_;
};

}  // namespace

// The inner frame begins at `inner`, its link header is the 14-byte
// Ethernet header, and its lengths are what remains of the outer frame.
void decode_inner_ethernet(const frame_lengths* lengths, const uint8_t* frame, const uint8_t* inner) {
    uint32_t skip = static_cast<uint32_t>(inner - frame);
    frame_lengths rest{lengths->captured_length > skip ? lengths->captured_length - skip : 0,
                       lengths->wire_length > skip ? lengths->wire_length - skip : 0};
    inner_link_header ethernet(14);
    decode_ethernet(&rest, inner, 0);
}
