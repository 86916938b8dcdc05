// The fuzz targets' entry points, shared with the regression test that
// replays the corpus and the inputs that once failed. Each takes one raw
// input and sends the decoded text to /dev/null.
#pragma once

#include <pcap/pcap.h>
#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "capture/frame.h"
#include "capture/iptrace.h"
#include "capture/pcap_source.h"
#include "capture/snoop.h"
#include "decode/context.h"
#include "driver/settings.h"
#include "filter/where.h"
#include "json_check.h"
#include "output/record.h"
#include "pipeline/frame_loop.h"
#include "stats/counters.h"
#include "zelk.h"

namespace fuzz {

// Every switch that changes what the decoders print or read, one bit each.
inline void apply_switches(uint16_t bits) {
    settings = run_settings{};
    counters = protocol_counters{};
    bool* const flags[] = {
        &settings.verbose,         &settings.statistic,       &settings.calc_checksums, &settings.expand_all,
        &settings.expand_ethernet, &settings.expand_llc,      &settings.expand_token,   &settings.expand_fddi,
        &settings.expand_arp,      &settings.expand_pppoe,    &settings.print_ip_hex,   &settings.print_tcp_hex,
        &settings.print_udp_hex,   &settings.print_pppoe_hex, &settings.print_tcp_text, &settings.print_udp_text,
    };
    for (unsigned i = 0; i < sizeof flags / sizeof flags[0]; ++i) *flags[i] = (bits >> i) & 1;
}

// The decoded text goes to /dev/null: it is still formatted, so every
// printed argument is evaluated.
inline void discard_output() {
    static FILE* sink = [] {
        FILE* f = fopen("/dev/null", "w");
        static char buffer[1 << 16];
        if (f) setvbuf(f, buffer, _IOFBF, sizeof buffer);
        return f;
    }();
    zelk_set_output(sink);
}

// A fresh capture state with the link type's header length; false for a
// link type nodrix does not decode.
inline bool select_link_type(int link_type) {
    capture = capture_state_record{};
    capture.reading_file = true;
    return link_type_lookup(link_type, &capture.link_header_length, &capture.link_decoder_index);
}

// Every link type the link table decodes, in ascending order.
inline const std::vector<int>& link_types() {
    static const std::vector<int> types = [] {
        std::vector<int> found;
        unsigned header_length;
        uint16_t decoder_index;
        for (int type = 0; type < 300; ++type)
            if (link_type_lookup(type, &header_length, &decoder_index)) found.push_back(type);
        return found;
    }();
    return types;
}

// One frame through the link decoder of a link type. Input: link type
// selector, two bytes of switches, the wire length's excess over the
// captured length (in steps of 7), then the captured bytes.
inline void link_frame_input(const uint8_t* data, size_t size) {
    constexpr size_t prefix_length = 4;
    if (size < prefix_length) return;
    if (!select_link_type(link_types()[data[0] % link_types().size()])) return;
    apply_switches(static_cast<uint16_t>(data[1] | data[2] << 8));
    discard_output();
    auto captured = static_cast<uint32_t>(size - prefix_length);
    frame_lengths lengths{captured, captured + data[3] * 7u};
    ++capture.frame_counter;
    decode_context& cx = frame_loop_main_context();
    cx.link_header_length = capture.link_header_length;
    decode_frame(cx, link_decoders[capture.link_decoder_index], &lengths, data + prefix_length);
    cx.stream_pieces.clear();
    frame_loop_drain();
    if (settings.statistic) statistics_report();
    zelk_set_output(nullptr);
}

// One frame through a link decoder and a structured writer. Input as for
// link_frame_input; bit 0 of the first switch byte's partner (byte 3's
// lowest bit) picks JSON (0) or the summary line (1), the rest of byte 3
// is the wire length's excess. Every JSON line must parse, and a summary
// must be exactly one line.
inline void structured_frame_input(const uint8_t* data, size_t size) {
    constexpr size_t prefix_length = 4;
    if (size < prefix_length) return;
    if (!select_link_type(link_types()[data[0] % link_types().size()])) return;
    apply_switches(static_cast<uint16_t>(data[1] | data[2] << 8));
    bool json = !(data[3] & 1);
    settings.json = json;
    settings.summary = !json;
    settings.record_fields = true;
    char* text = nullptr;
    size_t text_size = 0;
    FILE* out = open_memstream(&text, &text_size);
    zelk_set_output(out);
    auto captured = static_cast<uint32_t>(size - prefix_length);
    frame_lengths lengths{captured, captured + (data[3] >> 1) * 7u};
    ++capture.frame_counter;
    decode_context& cx = frame_loop_main_context();
    cx.frame_number = capture.frame_counter;
    begin_frame(cx, 45296, 0, lengths.captured_length, lengths.wire_length);
    cx.link_header_length = capture.link_header_length;
    decode_frame(cx, link_decoders[capture.link_decoder_index], &lengths, data + prefix_length);
    end_frame(cx);
    cx.stream_pieces.clear();
    frame_loop_drain();
    if (json && settings.statistic) write_json_statistics();
    zelk_set_text_suppressed(false);
    zelk_set_output(nullptr);
    fclose(out);
    std::string lines(text, text_size);
    free(text);
    size_t start = 0;
    int count = 0;
    while (start < lines.size()) {
        size_t end = lines.find('\n', start);
        if (end == std::string::npos) abort();  // every line ends with a newline
        if (json && !test::json_text_is_valid(lines.substr(start, end - start))) abort();
        start = end + 1;
        ++count;
    }
    if (count != (json && settings.statistic ? 2 : 1)) abort();
    settings = run_settings{};
}

// A pcap file in memory read the way --pcap-file reads it. Input: two
// bytes of switches, one byte of source options (raw hex dump, beep, raw
// log), then the file.
inline void pcap_file_input(const uint8_t* data, size_t size) {
    constexpr size_t prefix_length = 3;
    if (size < prefix_length) return;
    apply_switches(static_cast<uint16_t>(data[0] | data[1] << 8));
    uint8_t source_options = data[2];
    settings.print_raw_hex = source_options & 1;
    settings.beep_on = source_options & 2;
    bool raw_log = source_options & 4;
    discard_output();

    FILE* file = fmemopen(const_cast<uint8_t*>(data + prefix_length), size - prefix_length, "rb");
    if (!file) return;
    char errbuf[PCAP_ERRBUF_SIZE];
    pcap_t* handle = pcap_fopen_offline(file, errbuf);
    if (!handle) {
        fclose(file);
        return;
    }
    if (select_link_type(pcap_datalink(handle))) {
        capture.handle = handle;
        if (raw_log) {
            if (FILE* sink = fopen("/dev/null", "wb")) {
                capture.raw_log_dumper = pcap_dump_fopen(handle, sink);
                if (!capture.raw_log_dumper) fclose(sink);
            }
        }
        pcap_loop(handle, -1, pcap_frame_handler, reinterpret_cast<u_char*>(capture.raw_log_dumper));
        if (capture.raw_log_dumper) pcap_dump_close(capture.raw_log_dumper);
        if (settings.statistic) statistics_report();
    }
    capture = capture_state_record{};
    pcap_close(handle);
    zelk_set_output(nullptr);
}

// The gzip form of the bytes; empty if zlib fails.
inline std::vector<uint8_t> gzip(const uint8_t* data, size_t size) {
    z_stream z{};
    if (deflateInit2(&z, 1, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
    std::vector<uint8_t> out(deflateBound(&z, size) + 32);
    z.next_in = const_cast<uint8_t*>(data);
    z.avail_in = static_cast<uInt>(size);
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    int rc = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (rc != Z_STREAM_END) out.clear();
    return out;
}

// The iptrace or snoop reader on a file in memory, read through zlib as
// from disk, as it is or gzip-compressed first. Input: bit 0 snoop, bit 1
// compress, the rest the packet limit (0: none); two bytes of switches;
// then the file.
inline void trace_file_input(const uint8_t* data, size_t size) {
    constexpr size_t prefix_length = 3;
    if (size < prefix_length) return;
    static int memory_file = memfd_create("trace", 0);
    if (memory_file < 0) return;
    bool snoop = data[0] & 1;
    bool compress = data[0] & 2;
    int max_packets = data[0] >> 2;
    if (max_packets == 0) max_packets = -1;
    select_link_type(1);
    apply_switches(static_cast<uint16_t>(data[1] | data[2] << 8));
    discard_output();

    const uint8_t* file = data + prefix_length;
    size_t file_size = size - prefix_length;
    std::vector<uint8_t> packed;
    if (compress) {
        packed = gzip(file, file_size);
        file = packed.data();
        file_size = packed.size();
    }
    if (ftruncate(memory_file, 0) != 0 || pwrite(memory_file, file, file_size, 0) != static_cast<ssize_t>(file_size))
        return;
    int fd = dup(memory_file);
    if (fd < 0) return;
    lseek(fd, 0, SEEK_SET);
    open_trace_descriptor(fd, "memory");
    if (snoop)
        read_snoop(max_packets);
    else
        read_iptrace(max_packets);
    close_trace_file();
    if (settings.statistic) statistics_report();
    zelk_set_output(nullptr);
}

// A --where expression, then a newline and an Ethernet frame. The
// expression compiles or gives one line of error; when it compiles, it is
// judged on the frame's record.
inline void where_expression_input(const uint8_t* data, size_t size) {
    const auto* newline = static_cast<const uint8_t*>(memchr(data, '\n', size));
    std::string expr(reinterpret_cast<const char*>(data), newline ? static_cast<size_t>(newline - data) : size);
    std::string error;
    where_program program = where_compile(expr.c_str(), error);
    if (!program) {
        if (error.empty() || error.find('\n') != std::string::npos) abort();
        return;
    }
    if (!newline || !select_link_type(1)) return;
    apply_switches(0);
    settings.json = true;
    settings.record_fields = true;
    discard_output();
    const uint8_t* frame = newline + 1;
    auto captured = static_cast<uint32_t>(size - static_cast<size_t>(frame - data));
    frame_lengths lengths{captured, captured};
    decode_context& cx = frame_loop_main_context();
    cx.frame_number = ++capture.frame_counter;
    begin_frame(cx, 45296, 0, captured, captured);
    cx.link_header_length = capture.link_header_length;
    decode_frame(cx, link_decoders[capture.link_decoder_index], &lengths, frame);
    where_matches(*program, cx.record);
    cx.record.in_frame = false;
    cx.stream_pieces.clear();
    frame_loop_drain();
    zelk_set_text_suppressed(false);
    zelk_set_output(nullptr);
}

// --- frames nested from a recipe ---

// What a built piece starts with, so that the layer around it names it.
enum class nested_kind { ethernet, ipv4, ipv6, other };

struct nested_piece {
    std::vector<uint8_t> bytes;
    nested_kind kind;
};

// Reads the recipe's bytes one at a time; zeros once it is used up.
struct recipe_reader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    uint8_t next() { return at < size ? data[at++] : 0; }
};

inline void put_be16(std::vector<uint8_t>& v, size_t at, unsigned value) {
    v[at] = static_cast<uint8_t>(value >> 8);
    v[at + 1] = static_cast<uint8_t>(value);
}

inline std::vector<uint8_t> join(std::vector<uint8_t> head, const std::vector<uint8_t>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// A length field as built, or, when the recipe's skew byte says so, off
// by a few bytes either way (the decoders must cope with lying lengths).
inline unsigned skewed(unsigned length, uint8_t skew) {
    if (!(skew & 0x80)) return length > 0xffff ? 0xffff : length;
    int off = static_cast<int>(skew & 0x3f) - 32;
    long value = static_cast<long>(length) + off;
    return static_cast<unsigned>(value < 0 ? 0 : value > 0xffff ? 0xffff : value);
}

inline unsigned ethertype_of(nested_kind k, uint8_t fallback) {
    switch (k) {
        case nested_kind::ethernet: return 0x6558;
        case nested_kind::ipv4: return 0x0800;
        case nested_kind::ipv6: return 0x86dd;
        default: return 0x0800 + fallback;
    }
}

inline unsigned ip_protocol_of(nested_kind k, uint8_t fallback) {
    switch (k) {
        case nested_kind::ethernet: return 97;
        case nested_kind::ipv4: return 4;
        case nested_kind::ipv6: return 41;
        default: return fallback;
    }
}

inline nested_piece ipv4_around(const std::vector<uint8_t>& payload, unsigned protocol, uint8_t skew) {
    std::vector<uint8_t> h = {0x45, 0, 0,  0, 0, 1, 0,  0, 64, static_cast<uint8_t>(protocol),
                              0,    0, 10, 0, 0, 1, 10, 0, 0,  2};
    put_be16(h, 2, skewed(20 + static_cast<unsigned>(payload.size()), skew));
    return {join(h, payload), nested_kind::ipv4};
}

inline nested_piece ipv6_around(const std::vector<uint8_t>& payload, unsigned next_header, uint8_t skew) {
    std::vector<uint8_t> h(40, 0);
    h[0] = 0x60;
    put_be16(h, 4, skewed(static_cast<unsigned>(payload.size()), skew));
    h[6] = static_cast<uint8_t>(next_header);
    h[7] = 64;
    h[23] = 1;
    h[39] = 2;
    return {join(h, payload), nested_kind::ipv6};
}

inline std::vector<uint8_t> ethernet_header(unsigned ethertype, uint8_t vlan_tags) {
    std::vector<uint8_t> h = {2, 0, 0, 0, 0, 2, 2, 0, 0, 0, 0, 1};
    for (unsigned i = 0; i < vlan_tags % 4; ++i) h.insert(h.end(), {0x81, 0x00, 0x00, static_cast<uint8_t>(i + 1)});
    h.push_back(static_cast<uint8_t>(ethertype >> 8));
    h.push_back(static_cast<uint8_t>(ethertype));
    return h;
}

inline nested_piece ethernet_around(const nested_piece& inner, uint8_t vlan_tags) {
    return {join(ethernet_header(ethertype_of(inner.kind, 0), vlan_tags), inner.bytes), nested_kind::ethernet};
}

inline std::vector<uint8_t> udp_around(const std::vector<uint8_t>& payload, unsigned port, uint8_t skew) {
    std::vector<uint8_t> h = {0x9c, 0x40, 0, 0, 0, 0, 0, 0};
    put_be16(h, 2, port);
    put_be16(h, 4, skewed(8 + static_cast<unsigned>(payload.size()), skew));
    return join(h, payload);
}

// One layer around the piece, of the kind and with the fields the recipe
// names next.
inline nested_piece wrap_once(const nested_piece& inner, recipe_reader& r) {
    uint8_t kind = r.next();
    uint8_t a = r.next();
    uint8_t skew = r.next();
    switch (kind % 11) {
        case 0: {  // GRE, with the checksum, key and sequence fields the flags name
            std::vector<uint8_t> g = {static_cast<uint8_t>(a & 0xb0), static_cast<uint8_t>(a & 0x07), 0, 0};
            put_be16(g, 2, ethertype_of(inner.kind, a));
            size_t optional = ((a & 0x80) ? 4 : 0) + ((a & 0x20) ? 4 : 0) + ((a & 0x10) ? 4 : 0);
            g.resize(g.size() + optional, a);
            return ipv4_around(join(g, inner.bytes), 47, skew);
        }
        case 1: return ipv4_around(inner.bytes, ip_protocol_of(inner.kind, a), skew);
        case 2: return ipv6_around(inner.bytes, ip_protocol_of(inner.kind, a), skew);
        case 3: {  // a chain of authentication headers
            unsigned count = a % 16 + 1;
            std::vector<uint8_t> chain;
            for (unsigned i = 0; i < count; ++i) {
                bool last = i + 1 == count;
                uint8_t next = last ? static_cast<uint8_t>(ip_protocol_of(inner.kind, a)) : 51;
                // Payload length in 4-byte words minus 2; a lying one now and then.
                uint8_t words = (skew & 0x40) && last ? skew & 0x0f : 1;
                std::vector<uint8_t> ah = {next, words, 0, 0, 0, 0, 0, 1, 0, 0, 0, static_cast<uint8_t>(i)};
                chain = join(chain, ah);
            }
            return (a & 0x80) ? ipv6_around(join(chain, inner.bytes), 51, skew)
                              : ipv4_around(join(chain, inner.bytes), 51, skew);
        }
        case 4: {  // IPv6 extension headers: hop-by-hop, routing, fragment, destination options
            static const uint8_t kinds[] = {0, 43, 44, 60};
            unsigned count = a % 8 + 1;
            std::vector<uint8_t> types;
            for (unsigned i = 0; i < count; ++i) types.push_back(kinds[(skew >> (i % 4 * 2)) & 3]);
            std::vector<uint8_t> chain;
            for (unsigned i = 0; i < count; ++i) {
                uint8_t next = i + 1 < count ? types[i + 1] : static_cast<uint8_t>(ip_protocol_of(inner.kind, a));
                std::vector<uint8_t> ext(8, 0);
                ext[0] = next;
                if (types[i] == 43) ext[2] = a & 3;  // routing type
                if (types[i] == 44) ext[3] = a & 1;  // more fragments
                chain = join(chain, ext);
            }
            return ipv6_around(join(chain, inner.bytes), types[0], 0);
        }
        case 5: {  // Geneve with options
            nested_piece eth = inner.kind == nested_kind::ethernet || inner.kind == nested_kind::ipv4 ||
                                       inner.kind == nested_kind::ipv6
                                   ? inner
                                   : ethernet_around(inner, 0);
            unsigned option_words = a & 0x3f;
            std::vector<uint8_t> g = {
                static_cast<uint8_t>(option_words), static_cast<uint8_t>(a & 0xc0), 0, 0, 0, 0, 1, 0};
            put_be16(g, 2, ethertype_of(eth.kind, a));
            for (unsigned i = 0; i < option_words; ++i) g.insert(g.end(), {0x01, 0x02, 0x03, 0x00});
            return ethernet_around(ipv4_around(udp_around(join(g, eth.bytes), 6081, skew), 17, 0), a >> 6);
        }
        case 6: {  // VXLAN
            nested_piece eth = inner.kind == nested_kind::ethernet ? inner : ethernet_around(inner, a);
            std::vector<uint8_t> v = {static_cast<uint8_t>(a | 0x08), 0, 0, 0, 0, 0, 1, 0};
            return ethernet_around(ipv4_around(udp_around(join(v, eth.bytes), 4789, skew), 17, 0), 0);
        }
        case 7: {  // an MPLS label stack, a pseudowire control word before Ethernet
            unsigned labels = a % 8 + 1;
            std::vector<uint8_t> stack;
            for (unsigned i = 0; i < labels; ++i) {
                bool bottom = i + 1 == labels && !(skew & 0x40);
                stack.insert(stack.end(),
                             {0, static_cast<uint8_t>(i), static_cast<uint8_t>(0x10 | (bottom ? 1 : 0)), 64});
            }
            if (inner.kind != nested_kind::ipv4 && inner.kind != nested_kind::ipv6)
                stack.insert(stack.end(), {0, 0, 0, static_cast<uint8_t>(skew & 0x3f)});
            return {join(ethernet_header(0x8847, a >> 5), join(stack, inner.bytes)), nested_kind::ethernet};
        }
        case 8: {  // EtherIP
            nested_piece eth = inner.kind == nested_kind::ethernet ? inner : ethernet_around(inner, a);
            std::vector<uint8_t> e = {static_cast<uint8_t>((a & 1) ? a : 0x30), 0};
            return ipv4_around(join(e, eth.bytes), 97, skew);
        }
        case 9: return ethernet_around(inner, a);
        default: {  // bytes straight from the recipe in front of the piece
            std::vector<uint8_t> raw;
            for (unsigned i = 0; i < a % 32; ++i) raw.push_back(r.next());
            return {join(raw, inner.bytes), nested_kind::other};
        }
    }
}

// A frame of tunnels and header chains in each other, built from a recipe,
// decoded through the link decoder in each output mode. Input: two bytes
// of switches, the number of layers (a byte, times 16 when the top bit is
// set), the innermost payload's length, that payload, then three bytes a
// layer (kind, fields, length skew) from the inside out. Frames stay below
// 256 KiB, the largest a capture file records.
inline void nesting_input(const uint8_t* data, size_t size) {
    constexpr size_t prefix_length = 4;
    constexpr size_t largest_frame = 256 * 1024;
    if (size < prefix_length) return;
    recipe_reader r{data + prefix_length, size - prefix_length};
    unsigned layers = (data[2] & 0x80) ? (data[2] & 0x7f) * 16u : data[2];
    nested_piece piece{{}, nested_kind::other};
    for (unsigned i = 0; i < data[3]; ++i) piece.bytes.push_back(r.next());
    for (unsigned i = 0; i < layers && piece.bytes.size() < largest_frame; ++i) piece = wrap_once(piece, r);
    if (piece.kind != nested_kind::ethernet) piece = ethernet_around(piece, 0);
    if (piece.bytes.size() > largest_frame) piece.bytes.resize(largest_frame);
    // An exact-size copy, so that a sanitizer sees a read past the frame.
    std::unique_ptr<uint8_t[]> frame(new uint8_t[piece.bytes.size()]);
    std::copy(piece.bytes.begin(), piece.bytes.end(), frame.get());
    auto captured = static_cast<uint32_t>(piece.bytes.size());
    frame_lengths lengths{captured, captured};
    for (int mode = 0; mode < 3; ++mode) {
        if (!select_link_type(1)) return;
        apply_switches(static_cast<uint16_t>(data[0] | data[1] << 8));
        bool json = mode == 1;
        settings.json = json;
        settings.summary = mode == 2;
        settings.record_fields = mode != 0;
        char* text = nullptr;
        size_t text_size = 0;
        FILE* out = open_memstream(&text, &text_size);
        zelk_set_output(out);
        decode_context& cx = frame_loop_main_context();
        cx.frame_number = ++capture.frame_counter;
        begin_frame(cx, 45296, 0, captured, captured);
        cx.link_header_length = capture.link_header_length;
        decode_frame(cx, link_decoders[capture.link_decoder_index], &lengths, frame.get());
        end_frame(cx);
        cx.stream_pieces.clear();
        frame_loop_drain();
        if (settings.statistic) statistics_report();
        zelk_set_text_suppressed(false);
        zelk_set_output(nullptr);
        fclose(out);
        std::string lines(text, text_size);
        free(text);
        if (json) {
            size_t start = 0;
            while (start < lines.size()) {
                size_t end = lines.find('\n', start);
                if (end == std::string::npos) abort();
                if (!test::json_text_is_valid(lines.substr(start, end - start))) abort();
                start = end + 1;
            }
        }
    }
    settings = run_settings{};
    capture = capture_state_record{};
}

// The reassembly tables fed the way a capture feeds them: the input is a
// script of TCP segments (eight flows, sequence numbers across the wrap,
// any flags, overlaps and holes), IPv4 and IPv6 fragments (offsets, more
// fragments, small ids that meet) and steps of capture time, each built
// into an Ethernet frame and decoded. The tables get the smallest memory
// share, and after every frame they must hold no more than it.
//
// Input: one byte of switches (bit 0 JSON, bit 1 --expand-all, bit 2
// --statistic, bit 3 --calc-checksums, bits 4-7 the memory in steps of
// 128 KiB), then records. A record starts with an operation byte whose
// low three bits say what follows:
//   0-2  TCP segment: flow byte (bits 0-1 flow, HTTP/TLS/DNS/other by
//        port; bit 2 reverse direction; bit 3 IPv6), two bytes of stream
//        offset (four, as a raw sequence number, when operation bit 3 is
//        set), TCP flags, length byte (times 8 when bit 4 is set)
//   3-4  IPv4 fragment, 5 IPv6 fragment: id byte, two bytes of offset in
//        units of 8, length byte (times 8 when bit 4 is set); bit 3 of the
//        operation is "more fragments"
//   6    capture time steps forward by the next byte, in seconds
//   7    the same frame again (a retransmission of the previous record)
// Payload bytes come from the flow's or datagram's own content, so that
// repeats agree; with operation bit 5 they come from the input instead.
namespace reassembly_script {

constexpr uint32_t first_sequence = 0xfffffc00;  // streams cross the wrap early

struct reader {
    const uint8_t* p;
    const uint8_t* end;
    bool more() const { return p < end; }
    uint8_t u8() { return p < end ? *p++ : 0; }
    uint16_t be16() { return static_cast<uint16_t>(u8() << 8 | u8()); }
    uint32_t be32() { return uint32_t{be16()} << 16 | be16(); }
    const uint8_t* take(size_t& n) {
        n = std::min(n, static_cast<size_t>(end - p));
        const uint8_t* at = p;
        p += n;
        return at;
    }
};

// A flow's stream content, repeating: whole messages of its protocol.
inline uint8_t stream_byte(unsigned flow, bool reverse, uint64_t offset) {
    static const std::string http_request =
        "GET /index.html HTTP/1.1\r\nHost: example\r\nContent-Length: 11\r\n\r\nhello world"
        "POST /form HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nabcde\r\n0\r\n\r\n";
    static const std::string http_response =
        "HTTP/1.1 200 OK\r\nContent-Length: 20\r\n\r\n01234567890123456789"
        "HTTP/1.1 204 No Content\r\n\r\n"
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n";
    static const std::string tls = [] {
        std::string s = std::string("\x16\x03\x01\x00\x30", 5) + std::string("\x01\x00\x00\x2c\x03\x03", 6);
        s.resize(5 + 0x30, '\x11');
        s += std::string("\x17\x03\x03\x01\x00", 5) + std::string(0x100, '\x42');
        return s;
    }();
    // The server's side: a Certificate over records of 100 bytes, the
    // last with ServerHelloDone behind it, then ChangeCipherSpec.
    static const std::string tls_server = [] {
        std::string m = std::string("\x0b\x00\x02\x54", 4) + std::string(0x254, '\x30') +
                        std::string("\x0e\x00\x00\x00", 4);
        std::string s;
        for (size_t at = 0; at < m.size(); at += 100) {
            size_t n = std::min<size_t>(100, m.size() - at);
            s += std::string("\x16\x03\x03\x00", 4) + static_cast<char>(n) + m.substr(at, n);
        }
        return s + std::string("\x14\x03\x03\x00\x01\x01", 6) + std::string("\x17\x03\x03\x00\x20", 5) +
               std::string(0x20, '\x42');
    }();
    static const std::string dns = [] {
        std::string m(
            "\x12\x34\x81\x80\x00\x01\x00\x01\x00\x00\x00\x00\x01x\x00\x00\x01\x00\x01"
            "\xc0\x0c\x00\x01\x00\x01\x00\x00\x00\x3c\x00\x04\x0a\x00\x00\x01",
            35);
        return std::string("\x00\x23", 2) + m;
    }();
    const std::string* s = &tls;
    switch (flow & 3) {
        case 0: s = reverse ? &http_response : &http_request; break;
        case 1: s = reverse ? &tls_server : &tls; break;
        case 2: s = &dns; break;
        case 3: return static_cast<uint8_t>(offset * 7 + reverse);
    }
    return static_cast<uint8_t>((*s)[offset % s->size()]);
}

inline void put16(std::vector<uint8_t>& f, size_t at, uint16_t v) {
    f[at] = static_cast<uint8_t>(v >> 8);
    f[at + 1] = static_cast<uint8_t>(v);
}

inline void put32(std::vector<uint8_t>& f, size_t at, uint32_t v) {
    put16(f, at, static_cast<uint16_t>(v >> 16));
    put16(f, at + 2, static_cast<uint16_t>(v));
}

// Ethernet and an IPv4 or IPv6 header with room for `payload` bytes
// behind it; returns where the payload starts.
inline size_t ip_frame(std::vector<uint8_t>& f, bool v6, uint8_t protocol, unsigned host, bool reverse,
                       size_t payload) {
    size_t ip_length = v6 ? 40 : 20;
    f.assign(14 + ip_length + payload, 0);
    f[0] = 0x02, f[6] = 0x02, f[11] = 1;
    put16(f, 12, v6 ? 0x86dd : 0x0800);
    uint8_t a = static_cast<uint8_t>(reverse ? 2 : 1), b = static_cast<uint8_t>(reverse ? 1 : 2);
    if (v6) {
        f[14] = 0x60;
        put16(f, 18, static_cast<uint16_t>(payload));
        f[20] = protocol;
        f[21] = 64;
        f[22] = 0xfd, f[37] = a, f[36] = static_cast<uint8_t>(host);
        f[38] = 0xfd, f[53] = b, f[52] = static_cast<uint8_t>(host);
    } else {
        f[14] = 0x45;
        put16(f, 16, static_cast<uint16_t>(20 + payload));
        f[22] = 64;
        f[23] = protocol;
        f[26] = 10, f[29] = a, f[28] = static_cast<uint8_t>(host);
        f[30] = 10, f[33] = b, f[32] = static_cast<uint8_t>(host);
    }
    return 14 + ip_length;
}

// The datagram a fragment id stands for: UDP to port 53 or ICMP echo,
// of a length that depends on the id.
inline uint8_t datagram_byte(uint8_t id, bool v6, uint32_t at, uint32_t total) {
    bool udp = id & 1;
    if (udp && at < 8) {
        uint8_t header[8] = {0x13, 0x88, 0x00, 0x35, static_cast<uint8_t>(total >> 8), static_cast<uint8_t>(total),
                             0,    0};
        return header[at];
    }
    if (!udp && at < 8) {
        uint8_t header[8] = {static_cast<uint8_t>(v6 ? 128 : 8), 0, 0, 0, 0, id, 0, 1};
        return header[at];
    }
    return static_cast<uint8_t>(at * 13 + id);
}

inline uint32_t datagram_length(uint8_t id) { return 64 + (id * 997u) % 6000; }

}  // namespace reassembly_script

inline void reassembly_input(const uint8_t* data, size_t size) {
    using namespace reassembly_script;
    if (size < 1 || !select_link_type(1)) return;
    uint8_t switches = data[0];
    apply_switches(0);
    settings.json = switches & 1;
    settings.record_fields = settings.json;
    settings.expand_all = switches & 2;
    settings.statistic = switches & 4;
    settings.calc_checksums = switches & 8;
    settings.reassembly_memory = uint64_t{(switches >> 4) + 1u} << 17;
    size_t share = std::max<size_t>(65536, settings.reassembly_memory / 2);
    reassembly_set_contexts(1);
    discard_output();
    decode_context& cx = frame_loop_main_context();

    reader in{data + 1, data + size};
    std::vector<uint8_t> frame, previous;
    long seconds = 1000;
    unsigned microseconds = 0;
    unsigned records = 0;
    while (in.more() && ++records <= 4096) {
        uint8_t op = in.u8();
        bool from_input = op & 0x20;
        frame.clear();
        switch (op & 7) {
            case 0:
            case 1:
            case 2: {
                uint8_t which = in.u8();
                unsigned flow = which & 3;
                bool reverse = which & 4, v6 = which & 8;
                uint32_t seq = (op & 8) ? in.be32() : first_sequence + 1 + in.be16();
                uint8_t flags = in.u8();
                size_t length = (op & 0x10) ? in.u8() * 8u : in.u8();
                uint64_t stream_at = static_cast<uint32_t>(seq - first_sequence - 1);
                size_t at = ip_frame(frame, v6, 6, flow, reverse, 20 + length);
                static const uint16_t ports[] = {80, 443, 53, 8000};
                put16(frame, at, reverse ? ports[flow] : 40000);
                put16(frame, at + 2, reverse ? 40000 : ports[flow]);
                put32(frame, at + 4, seq);
                frame[at + 12] = 0x50;
                frame[at + 13] = flags;
                put16(frame, at + 14, 65535);
                if (from_input) {
                    size_t n = length;
                    const uint8_t* bytes = in.take(n);
                    std::copy(bytes, bytes + n, frame.begin() + static_cast<long>(at + 20));
                } else {
                    for (size_t i = 0; i < length; ++i) frame[at + 20 + i] = stream_byte(flow, reverse, stream_at + i);
                }
                break;
            }
            case 3:
            case 4:
            case 5: {
                bool v6 = (op & 7) == 5;
                uint8_t id = in.u8();
                uint32_t offset = (in.be16() & 0x1fffu) * 8;
                size_t length = (op & 0x10) ? in.u8() * 8u : in.u8();
                bool more = op & 8;
                uint8_t protocol = (id & 1) ? 17 : (v6 ? 58 : 1);
                size_t at = ip_frame(frame, v6, v6 ? 44 : protocol, id >> 4, false, (v6 ? 8 : 0) + length);
                if (v6) {
                    frame[at] = protocol;
                    put16(frame, at + 2, static_cast<uint16_t>(offset | more));
                    put32(frame, at + 4, id);
                    at += 8;
                } else {
                    put16(frame, 18, id);
                    put16(frame, 20, static_cast<uint16_t>((more ? 0x2000 : 0) | (offset / 8)));
                }
                if (from_input) {
                    size_t n = length;
                    const uint8_t* bytes = in.take(n);
                    std::copy(bytes, bytes + n, frame.begin() + static_cast<long>(at));
                } else {
                    for (size_t i = 0; i < length; ++i)
                        frame[at + i] = datagram_byte(id, v6, static_cast<uint32_t>(offset + i), datagram_length(id));
                }
                break;
            }
            case 6:
                seconds += in.u8();
                microseconds = (microseconds + 1) % 1000000;
                continue;
            case 7: frame = previous; break;
        }
        if (frame.empty()) continue;
        previous = frame;
        auto captured = static_cast<uint32_t>(frame.size());
        frame_lengths lengths{captured, captured};
        cx.frame_number = ++capture.frame_counter;
        begin_frame(cx, seconds, microseconds, captured, captured);
        cx.link_header_length = capture.link_header_length;
        decode_frame(cx, link_decoders[capture.link_decoder_index], &lengths, frame.data());
        end_frame(cx);
        cx.stream_pieces.clear();
        if (cx.reassembly.fragments.held_bytes() > share || cx.reassembly.tcp.held_bytes() > share) abort();
    }
    reassembly_finish(cx);
    frame_loop_drain();
    if (cx.reassembly.fragments.held_sets() || cx.reassembly.tcp.held_flows()) abort();
    zelk_set_text_suppressed(false);
    zelk_set_output(nullptr);
    settings = run_settings{};
}

// One BER-encoded message as the payload of an Ethernet, IPv4 and UDP or
// TCP frame, on the port of the decoder that the first byte picks: LDAP
// over UDP or TCP, Kerberos over UDP or TCP, SNMP, or a TLS record holding
// a Certificate message whose list is the rest of the input. The second
// byte's bits: --expand-all, --verbose, recording for JSON, a capture cut
// short by the last 5 bytes.
inline void ber_message_input(const uint8_t* data, size_t size) {
    if (size < 2) return;
    if (!select_link_type(DLT_EN10MB)) return;
    settings = run_settings{};
    counters = protocol_counters{};
    settings.expand_all = data[1] & 1;
    settings.verbose = data[1] & 2;
    settings.json = settings.record_fields = data[1] & 4;
    static constexpr struct {
        bool tcp;
        uint16_t port;
    } targets[] = {{false, 389}, {true, 389}, {false, 88}, {true, 88}, {false, 161}, {true, 443}};
    const auto& target = targets[data[0] % (sizeof targets / sizeof targets[0])];
    std::vector<uint8_t> payload(data + 2, data + size);
    if (target.port == 443) {
        // Record header, handshake header, then the certificate list.
        size_t list = payload.size(), body = list + 3, record = body + 4;
        std::vector<uint8_t> head = {22, 3, 3, uint8_t(record >> 8), uint8_t(record), 11,
                                     uint8_t(body >> 16), uint8_t(body >> 8), uint8_t(body),
                                     uint8_t(list >> 16), uint8_t(list >> 8), uint8_t(list)};
        payload.insert(payload.begin(), head.begin(), head.end());
    }
    std::vector<uint8_t> frame = {2, 0, 0, 0, 0, 2, 2, 0, 0, 0, 0, 1, 8, 0,  // Ethernet
                                  0x45, 0, 0, 0, 0, 1, 0x40, 0, 64, 0, 0, 0, 192, 0, 2, 1, 192, 0, 2, 2};
    frame[23] = target.tcp ? 6 : 17;
    if (target.tcp)
        frame.insert(frame.end(), {0x9c, 0x41, uint8_t(target.port >> 8), uint8_t(target.port), 0, 0, 0, 1, 0, 0, 0, 1,
                                   0x50, 0x18, 0xff, 0xff, 0, 0, 0, 0});
    else
        frame.insert(frame.end(), {0x9c, 0x41, uint8_t(target.port >> 8), uint8_t(target.port),
                                   uint8_t((payload.size() + 8) >> 8), uint8_t(payload.size() + 8), 0, 0});
    frame.insert(frame.end(), payload.begin(), payload.end());
    size_t ip_length = frame.size() - 14;
    frame[16] = uint8_t(ip_length >> 8);
    frame[17] = uint8_t(ip_length);
    auto captured = static_cast<uint32_t>(frame.size() - ((data[1] & 8) && frame.size() > 60 ? 5 : 0));
    // An exact-size copy, so that the sanitizer sees a read past it.
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[captured]);
    memcpy(bytes.get(), frame.data(), captured);
    frame_lengths lengths{captured, static_cast<uint32_t>(frame.size())};
    discard_output();
    if (settings.record_fields) zelk_set_text_suppressed(true);
    ++capture.frame_counter;
    decode_context& cx = frame_loop_main_context();
    cx.frame_number = capture.frame_counter;
    begin_frame(cx, 45296, 0, lengths.captured_length, lengths.wire_length);
    cx.link_header_length = capture.link_header_length;
    decode_frame(cx, link_decoders[capture.link_decoder_index], &lengths, bytes.get());
    end_frame(cx);
    cx.stream_pieces.clear();
    frame_loop_drain();
    zelk_set_text_suppressed(false);
    zelk_set_output(nullptr);
    settings = run_settings{};
}

}  // namespace fuzz
