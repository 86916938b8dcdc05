#include "capture/slice.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "capture/frame.h"
#include "capture/mapped_pcap.h"
#include "capture/pcap_open.h"
#include "capture/pcap_source.h"
#include "capture/frame_time.h"
#include "driver/run.h"
#include "driver/settings.h"

namespace {

struct slice_record {
    bool active;
    uint64_t start;
    uint64_t end;
    bool have_first_frame;
    unsigned long first_frame;
    bool have_previous_time;
    long previous_seconds;
    unsigned previous_microseconds;
    unsigned previous_rest;
    uint64_t file_size;
    // The slice holds the file's first record: it prints the opening line.
    bool at_file_start;
    // Records decoded, and whether the end of the range (not of the file)
    // stopped the reading.
    unsigned long records;
    bool stopped_by_range;
};
slice_record slice;

[[noreturn]] void refuse(const char* format, ...) {
    fputs("Error: ", stderr);
    va_list ap;
    va_start(ap, format);
    vfprintf(stderr, format, ap);
    va_end(ap);
    fputs(".\n", stderr);
    exit(1);
}

// A whole decimal number and nothing else.
bool parse_number(const char* text, size_t length, uint64_t* value) {
    if (length == 0 || length > 19) return false;
    uint64_t v = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + static_cast<unsigned>(text[i] - '0');
    }
    *value = v;
    return true;
}

// "START:END", or "START:" for up to the end of the file.
bool parse_range(const char* text) {
    const char* colon = strchr(text, ':');
    if (!colon || !parse_number(text, static_cast<size_t>(colon - text), &slice.start)) return false;
    if (!colon[1]) {
        slice.end = UINT64_MAX;
        return true;
    }
    return parse_number(colon + 1, strlen(colon + 1), &slice.end) && slice.start <= slice.end;
}

// "SECONDS.FRACTION" as --index prints it: up to nine decimals.
bool parse_time(const char* text, long* seconds, unsigned* microseconds, unsigned* rest) {
    const char* dot = strchr(text, '.');
    size_t whole = dot ? static_cast<size_t>(dot - text) : strlen(text);
    uint64_t s = 0, ns = 0;
    if (!parse_number(text, whole, &s) || s > static_cast<uint64_t>(INT32_MAX) * 4) return false;
    if (dot) {
        size_t digits = strlen(dot + 1);
        if (digits > 9 || !parse_number(dot + 1, digits, &ns)) return false;
        for (size_t i = digits; i < 9; ++i) ns *= 10;
    }
    *seconds = static_cast<long>(s);
    *microseconds = static_cast<unsigned>(ns / 1000);
    *rest = static_cast<unsigned>(ns % 1000);
    return true;
}

bool starts_with_gzip_magic(const char* path) {
    FILE* f = fopen(path, "rb");
    if (!f) return false;
    unsigned char magic[2] = {};
    bool gz = fread(magic, 1, 2, f) == 2 && magic[0] == 0x1f && magic[1] == 0x8b;
    fclose(f);
    return gz;
}

// --- finding a record boundary from an arbitrary offset ---

struct file_layout {
    int fd;
    uint64_t size;
    bool big_endian;
    bool pcapng;
    bool nanoseconds;
    uint32_t snaplen;
};

uint32_t read_u32(const unsigned char* p, bool big_endian) {
    return big_endian ? (uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3])
                      : (uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0]);
}

bool read_at(const file_layout& file, uint64_t at, unsigned char* into, size_t n) {
    return at + n <= file.size && pread(file.fd, into, n, static_cast<off_t>(at)) == static_cast<ssize_t>(n);
}

bool read_layout(int fd, uint64_t size, file_layout* file) {
    *file = file_layout{fd, size, false, false, false, 0};
    unsigned char header[24];
    if (!read_at(*file, 0, header, sizeof header)) return false;
    uint32_t magic = read_u32(header, true);
    if (magic == 0x0a0d0d0a) {
        file->pcapng = true;
        file->big_endian = read_u32(header + 8, true) == 0x1a2b3c4d;
        return true;
    }
    for (bool big : {true, false}) {
        magic = read_u32(header, big);
        if (magic == 0xa1b2c3d4 || magic == 0xa1b23c4d) {
            file->big_endian = big;
            file->nanoseconds = magic == 0xa1b23c4d;
            file->snaplen = read_u32(header + 16, big);
            return true;
        }
    }
    return false;
}

constexpr uint32_t largest_record = 262144;
constexpr int chained_records = 4;

// A pcap record header at `at` is believed when its lengths fit the file's
// snap length and each other, its sub-second part is in range, its time is
// within a day of its neighbours, and the records after it chain the same
// way up to the end of the file.
bool pcap_record_at(const file_layout& file, uint64_t at, int depth, bool have_time, uint32_t neighbour) {
    if (at == file.size) return true;
    unsigned char h[16];
    if (!read_at(file, at, h, sizeof h)) return false;
    uint32_t seconds = read_u32(h, file.big_endian), fraction = read_u32(h + 4, file.big_endian);
    uint32_t captured = read_u32(h + 8, file.big_endian), wire = read_u32(h + 12, file.big_endian);
    uint32_t limit = file.snaplen > 0 && file.snaplen <= largest_record ? file.snaplen : largest_record;
    if (fraction >= (file.nanoseconds ? 1000000000u : 1000000u) || captured > limit || captured > wire ||
        wire > (1u << 26) || at + 16 + captured > file.size)
        return false;
    if (have_time && (seconds > neighbour ? seconds - neighbour : neighbour - seconds) > 86400) return false;
    return depth == 0 || pcap_record_at(file, at + 16 + captured, depth - 1, true, seconds);
}

// A pcapng packet block at `at` is believed when its length is whole words,
// repeated at its end, holds its captured bytes, and the blocks after it
// chain the same way.
bool pcapng_block_at(const file_layout& file, uint64_t at, int depth, bool first) {
    if (at == file.size) return true;
    unsigned char h[24];
    if (at % 4 || !read_at(file, at, h, 12)) return false;
    uint32_t type = read_u32(h, file.big_endian), length = read_u32(h + 4, file.big_endian);
    if (length < 12 || length % 4 || at + length > file.size) return false;
    unsigned char trailer[4];
    if (!read_at(file, at + length - 4, trailer, 4) || read_u32(trailer, file.big_endian) != length) return false;
    if (type == 0x0a0d0d0a) return !first;  // a new section ends the chain
    if (first) {
        if (type == 6) {  // enhanced packet block
            if (length < 32 || !read_at(file, at, h, 24) || read_u32(h + 20, file.big_endian) > length - 32)
                return false;
        } else if (type != 3 && type != 2) {  // simple and obsolete packet blocks
            return false;
        }
    }
    return depth == 0 || pcapng_block_at(file, at + length, depth - 1, false);
}

// A record, or a packet block with a few options, is never longer than
// this: a boundary lies closer to any offset inside an intact file.
constexpr uint64_t search_limit = largest_record + 4096;

// The first offset at or after `from` where a record begins; the file size
// when the file ends first; false when the bytes up to search_limit hold no
// record header.
bool next_record_boundary(const file_layout& file, uint64_t from, uint64_t* boundary) {
    for (uint64_t at = from; at < file.size && at - from <= search_limit; ++at) {
        if (file.pcapng ? pcapng_block_at(file, at, chained_records, true)
                        : pcap_record_at(file, at, chained_records, false, 0)) {
            *boundary = at;
            return true;
        }
    }
    *boundary = file.size;
    return from + search_limit >= file.size;
}

// Six decimals, or nine when the stamp has nanoseconds.
void time_text(const timeval& t, bool nano_handle, bool nanosecond_pcap, char* text, size_t size) {
    if (!nano_handle) {
        snprintf(text, size, "%ld.%06ld", static_cast<long>(t.tv_sec), static_cast<long>(t.tv_usec));
        return;
    }
    auto ns = static_cast<uint32_t>(t.tv_usec);
    if (nanosecond_pcap || ns % 1000)
        snprintf(text, size, "%ld.%09u", static_cast<long>(t.tv_sec), ns);
    else
        snprintf(text, size, "%ld.%06u", static_cast<long>(t.tv_sec), ns / 1000);
}

}  // namespace

void check_slice_options(char** argv) {
    (void)argv;
    const command_line_options& o = options;
    if (!o.range_given && !o.index_given) {
        if (o.first_frame_given || o.previous_time_given)
            refuse("--first-frame and --previous-time belong to a --range slice");
        return;
    }
    const char* name = o.range_given ? "--range" : "--index";
    if (o.range_given && o.index_given) refuse("--range and --index cannot be used together");
    if (!o.pcap_file_given || o.bt_given || o.use_zelklib_given)
        refuse("%s works on a pcap or pcapng file named with -P", name);
    if (o.filter_given || o.filter_nopt_given)
        refuse("%s cannot be combined with a filter: frame numbers count only the frames it lets through", name);
    if (o.range_given && (o.statistic_given || o.print_tcp_stream_given))
        refuse("--range cannot be combined with --statistic or --print-tcp-stream, which report on the whole run");
    if (o.range_given && (o.stats_given || o.follow_given || o.statistic_brief_given))
        refuse("--range cannot be combined with --stats, --follow or --statistic-brief, which report on the whole run");
    const char* path = o.pcap_file;
    struct stat st {};
    if (strcmp(path, "-") == 0 || (stat(path, &st) == 0 && !S_ISREG(st.st_mode)))
        refuse("%s needs a regular file it can seek in, not standard input or a pipe", name);
    if (starts_with_gzip_magic(path))
        refuse(
            "%s cannot read a gzip-compressed file: its offsets would be those of the compressed bytes; "
            "decompress it first",
            name);
    if (o.range_given && !parse_range(o.range))
        refuse("--range takes START:END (byte offsets, START <= END) or START:, not `%s'", o.range);
    if (o.first_frame_given) {
        uint64_t n = 0;
        if (!parse_number(o.first_frame, strlen(o.first_frame), &n) || n == 0)
            refuse("--first-frame takes a frame number from 1, not `%s'", o.first_frame);
        slice.have_first_frame = true;
        slice.first_frame = n;
    }
    if (o.previous_time_given) {
        if (!parse_time(o.previous_time, &slice.previous_seconds, &slice.previous_microseconds, &slice.previous_rest))
            refuse("--previous-time takes SECONDS.FRACTION (nine decimals at most), not `%s'", o.previous_time);
        slice.have_previous_time = true;
    }
    if ((o.first_frame_given || o.previous_time_given) && !o.range_given)
        refuse("--first-frame and --previous-time belong to a --range slice");
    slice.active = o.range_given;
    slice.file_size = static_cast<uint64_t>(st.st_size);
}

bool slice_index_wanted() { return options.index_given; }

int print_slice_index() {
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    bool nanosecond_pcap = false;
    pcap_t* handle = open_pcap_file(settings.pcap_file, errbuf, &nanosecond_pcap);
    bool nano_handle = handle && pcap_get_tstamp_precision(handle) == PCAP_TSTAMP_PRECISION_NANO;
    if (!handle) {
        fprintf(stderr, "Error: Can't open pcap file %s, because: %s\n\n", settings.pcap_file, errbuf);
        return 1;
    }
    FILE* file = pcap_file(handle);
    auto every = static_cast<unsigned long>(options.index);
    unsigned long number = 0;
    char previous[32] = "-";
    int status = 0;
    for (;;) {
        long at = ftell(file);
        pcap_pkthdr* header;
        const u_char* data;
        int rc = pcap_next_ex(handle, &header, &data);
        if (rc == PCAP_ERROR_BREAK) {
            printf("end %lu %ld\n", number, at);
            break;
        }
        if (rc != 1) {
            fflush(stdout);
            fprintf(stderr, "Error: %s.\n", pcap_geterr(handle));
            status = 1;
            break;
        }
        if (number++ % every == 0) printf("frame %lu %ld %s\n", number, at, previous);
        time_text(header->ts, nano_handle, nanosecond_pcap, previous, sizeof previous);
    }
    pcap_close(handle);
    if (fflush(stdout) != 0 && errno != EPIPE) {
        fprintf(stderr, "Error: Can't write standard output: %s.\n", strerror(errno));
        return 1;
    }
    return status;
}

bool slice_active() { return slice.active; }

bool slice_begin(pcap_t* handle) {
    if (!slice.active) return true;
    FILE* file = pcap_file(handle);
    auto first_record = static_cast<uint64_t>(ftell(file));
    if (slice.start <= first_record) {
        slice.at_file_start = first_record < slice.end || first_record >= slice.file_size;
        if (slice.have_first_frame) capture.frame_counter = slice.first_frame - 1;
        if (slice.have_previous_time) frame_time_set_previous(slice.previous_seconds, slice.previous_microseconds, slice.previous_rest);
        return first_record < slice.end;
    }
    pcap_pkthdr* header;
    const u_char* data;
    if (!slice.have_first_frame) {
        // No frame number given: count the records before the range, which
        // also finds the first boundary in it and the times to continue.
        unsigned long records = 0;
        for (;;) {
            auto at = static_cast<uint64_t>(ftell(file));
            if (at >= slice.start) {
                capture.frame_counter = records;
                return at < slice.end && at < slice.file_size;
            }
            if (pcap_next_ex(handle, &header, &data) != 1) return false;
            frame_stamp stamp = stamp_of(header);
            if (records++ == 0) frame_time_set_first(stamp.seconds, stamp.microseconds, stamp.nano_rest);
            frame_time_set_previous(stamp.seconds, stamp.microseconds, stamp.nano_rest);
        }
    }
    // A frame number given: trust START, or find the next boundary after
    // it; the relative times still count from the file's first frame.
    if (pcap_next_ex(handle, &header, &data) == 1) {
        frame_stamp stamp = stamp_of(header);
        frame_time_set_first(stamp.seconds, stamp.microseconds, stamp.nano_rest);
    }
    file_layout layout{};
    uint64_t boundary = 0;
    if (!read_layout(fileno(file), slice.file_size, &layout) || !next_record_boundary(layout, slice.start, &boundary)) {
        stop_with_error("No record header found in the %llu bytes from offset %llu of %s",
                        static_cast<unsigned long long>(search_limit), static_cast<unsigned long long>(slice.start),
                        settings.pcap_file);
        return false;
    }
    if (boundary >= slice.end || boundary >= slice.file_size) return false;
    if (fseeko(file, static_cast<off_t>(boundary), SEEK_SET) != 0) return false;
    capture.frame_counter = slice.first_frame - 1;
    if (slice.have_previous_time) frame_time_set_previous(slice.previous_seconds, slice.previous_microseconds, slice.previous_rest);
    return true;
}

bool slice_done_after_record(pcap_t* handle) {
    if (!slice.active) return false;
    ++slice.records;
    auto at = static_cast<uint64_t>(capture_file_position(handle));
    if (at < slice.end || at >= slice.file_size) return false;
    slice.stopped_by_range = true;
    return true;
}

bool slice_prints_opening() { return !slice.active || slice.at_file_start; }

bool slice_prints_closing() {
    return !slice.active || (!slice.stopped_by_range && (slice.records > 0 || slice.at_file_start));
}
