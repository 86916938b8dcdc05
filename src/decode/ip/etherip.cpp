#include "decode/ip/etherip.h"

#include "decode/decoder.h"
#include "decode/link/ethernet.h"

namespace {

// The tunnelled frame is decoded as a frame of its own: it begins at
// `inner`, its link header is the 14-byte Ethernet header, and its lengths
// are what remains of the outer frame. Every layer inside it then finds its
// header the usual way (frame start + link header length + offset). The
// outer link header length comes back however the decoding ends, since the
// next frame of the capture needs it.
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

void decode_inner_ethernet(const frame_lengths* lengths, const uint8_t* frame, const uint8_t* inner) {
    uint32_t skip = static_cast<uint32_t>(inner - frame);
    frame_lengths rest{lengths->captured_length > skip ? lengths->captured_length - skip : 0,
                       lengths->wire_length > skip ? lengths->wire_length - skip : 0};
    inner_link_header ethernet(14);
    decode_ethernet(&rest, inner, 0);
}

}  // namespace

int decode_etherip(const frame_lengths* lengths, const uint8_t* frame, unsigned offset) {
    const uint8_t* h = header_at(frame, offset);
    uint8_t first = get_u8(h);
    uint8_t second = get_u8(h + 1);
    layer("etherip", "- EtherIP Header -");
    field("version", "\n  Version: %u, ", first & 0x0fu);
    field("reserved", "  Reserved: %u", second * 16u + (first >> 4));
    bump(counters.etherip);
    decode_inner_ethernet(lengths, frame, h + 2);
    return 0;
}
