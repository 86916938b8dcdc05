#include "capture/mapped_pcap.h"

#include <sys/mman.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "capture/frame.h"
#include "pipeline/frame_loop.h"

namespace {

constexpr size_t file_header_length = 24;
constexpr size_t record_header_length = 16;
// libpcap refuses larger records for most link types.
constexpr uint32_t largest_record = 262144;
// Pages behind the reader are given back every so often, so that the
// resident size stays that of a window, not of the file.
constexpr size_t release_every = 16 << 20;
// Pages ahead of the reader are mapped a window at a time: one system call
// instead of a fault for every few pages.
constexpr size_t populate_window = 4 << 20;

void populate(const uint8_t* file, size_t size, size_t from) {
#ifdef MADV_POPULATE_READ
    if (from >= size) return;
    size_t begin = from & ~static_cast<size_t>(4095);
    size_t length = size - begin < populate_window ? size - begin : populate_window;
    madvise(const_cast<uint8_t*>(file) + begin, length, MADV_POPULATE_READ);
#else
    (void)file, (void)size, (void)from;
#endif
}

uint32_t host_u32(const uint8_t* p) {
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}

// Link types whose records libpcap rewrites while reading: those stay with it.
bool rewritten_by_libpcap(int link_type) {
    return link_type == 189 /* USB Linux */ || link_type == 220 /* USB Linux, memory-mapped */;
}

}  // namespace

long read_mapped_pcap(pcap_t* handle, const bpf_program* filter, long max_packets, pcap_handler handler, u_char* user,
                      bool* stopped) {
    *stopped = false;
    FILE* stream = pcap_file(handle);
    if (!stream || pcap_is_swapped(handle) || rewritten_by_libpcap(pcap_datalink(handle))) return 0;
    int fd = fileno(stream);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    long start = ftell(stream);
    if (start != static_cast<long>(file_header_length) || st.st_size <= start) return 0;
    auto size = static_cast<size_t>(st.st_size);
    void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (map == MAP_FAILED) return 0;
    madvise(map, size, MADV_SEQUENTIAL);
    const auto* file = static_cast<const uint8_t*>(map);
    // Microsecond times in this machine's byte order; nanosecond files and
    // anything else go through libpcap.
    if (host_u32(file) != 0xa1b2c3d4) {
        munmap(map, size);
        return 0;
    }
    uint32_t snapshot = static_cast<uint32_t>(pcap_snapshot(handle));
    uint32_t limit = snapshot < largest_record ? snapshot : largest_record;

    size_t at = file_header_length;
    size_t released = 0;
    populate(file, size, 0);
    size_t populated = populate_window;
    long handed = 0;
    while (size - at >= record_header_length) {
        if (at + largest_record >= populated && populated < size) {
            populate(file, size, populated);
            populated += populate_window;
        }
        const uint8_t* h = file + at;
        uint32_t caplen = host_u32(h + 8);
        if (caplen > limit || caplen > size - at - record_header_length) break;
        pcap_pkthdr header{};
        header.ts.tv_sec = static_cast<int32_t>(host_u32(h));
        header.ts.tv_usec = static_cast<int32_t>(host_u32(h + 4));
        header.caplen = caplen;
        header.len = host_u32(h + 12);
        const uint8_t* data = h + record_header_length;
        at += record_header_length + caplen;
        if (filter && !pcap_offline_filter(filter, &header, data)) continue;
        handler(user, &header, data);
        ++handed;
        if (capture.stop_signal) {
            *stopped = true;
            break;
        }
        if (max_packets > 0 && handed >= max_packets) break;
        if (at - released >= release_every) {
            // Frames still queued may touch a released page again; it is
            // then read back from the file.
            size_t page_end = (at - release_every / 2) & ~static_cast<size_t>(4095);
            if (page_end > released) {
                madvise(const_cast<uint8_t*>(file) + released, page_end - released, MADV_DONTNEED);
                released = page_end;
            }
        }
    }
    // Queued frames point into the map.
    frame_loop_drain();
    munmap(map, size);
    fseek(stream, static_cast<long>(at), SEEK_SET);
    return handed;
}
