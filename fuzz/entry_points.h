// The fuzz targets' entry points, shared with the regression test that
// replays the corpus and the inputs that once failed. Each takes one raw
// input and sends the decoded text to /dev/null.
#pragma once

#include <pcap/pcap.h>
#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

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
    gzFile gz = gzdopen(fd, "r");
    if (!gz) {
        close(fd);
        return;
    }
    gzbuffer(gz, 1 << 17);
    capture.trace_file = gz;
    capture.trace_file_path = "memory";
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
