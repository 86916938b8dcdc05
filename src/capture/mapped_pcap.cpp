#include "capture/mapped_pcap.h"

#include <sys/mman.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cerrno>
#include <cstring>

#include <unistd.h>

#include "capture/frame.h"
#include "pipeline/frame_loop.h"

namespace {

constexpr size_t file_header_length = 24;
constexpr size_t record_header_length = 16;
// libpcap refuses larger records for most link types.
constexpr uint32_t largest_record = 262144;
// The file is read in large pieces into one buffer backed by huge pages
// where the system offers them: a frame's bytes then cost the reading and
// the decoding threads no page faults and few TLB misses, which on a
// virtual machine weigh more than the copy. Frames handed over point into
// the buffer; before it is refilled from its start, every queued frame is
// finished (frame_loop_wait), so none points at overwritten bytes.
constexpr size_t buffer_size = 8 << 20;
constexpr size_t read_piece = 2 << 20;
constexpr size_t huge_page = 2 << 20;

struct read_buffer {
    uint8_t* data = nullptr;
    size_t mapped = 0;
    read_buffer() {
        // Aligned to a huge page, so that the whole buffer can use them.
        mapped = buffer_size + huge_page;
        void* p = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) {
            mapped = 0;
            return;
        }
        auto at = reinterpret_cast<uintptr_t>(p);
        data = reinterpret_cast<uint8_t*>((at + huge_page - 1) & ~static_cast<uintptr_t>(huge_page - 1));
#ifdef MADV_HUGEPAGE
        madvise(data, buffer_size, MADV_HUGEPAGE);
#endif
        base = p;
    }
    ~read_buffer() {
        if (mapped) munmap(base, mapped);
    }
    read_buffer(const read_buffer&) = delete;
    read_buffer& operator=(const read_buffer&) = delete;
    void* base = nullptr;
};

uint32_t host_u32(const uint8_t* p) {
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}

// Link types whose records libpcap rewrites while reading: those stay with it.
bool rewritten_by_libpcap(int link_type) {
    return link_type == 189 /* USB Linux */ || link_type == 220 /* USB Linux, memory-mapped */;
}

// Where the map reader stands while it hands over frames; -1 otherwise.
long mapped_position = -1;

}  // namespace

long read_mapped_pcap(pcap_t* handle, const bpf_program* filter, long max_packets, pcap_handler handler, u_char* user,
                      bool (*stop_requested)(), bool* stopped) {
    *stopped = false;
    FILE* stream = pcap_file(handle);
    if (!stream || pcap_is_swapped(handle) || rewritten_by_libpcap(pcap_datalink(handle))) return 0;
    int fd = fileno(stream);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    long start = ftell(stream);
    if (start < static_cast<long>(file_header_length) || st.st_size <= start) return 0;
    auto size = static_cast<size_t>(st.st_size);
    // Microsecond times in this machine's byte order; nanosecond files and
    // anything else go through libpcap.
    uint8_t magic[4];
    if (pread(fd, magic, 4, 0) != 4 || host_u32(magic) != 0xa1b2c3d4) return 0;
    static read_buffer buffer;
    if (!buffer.data) return 0;
    uint8_t* data = buffer.data;
    uint32_t snapshot = static_cast<uint32_t>(pcap_snapshot(handle));
    uint32_t limit = snapshot < largest_record ? snapshot : largest_record;

    // The buffer holds the file's bytes [base, base + have); the next
    // record starts at base + at.
    size_t base = static_cast<size_t>(start), have = 0, at = 0;
    // Reads until the buffer holds `want` bytes from `at`, or the file
    // ends; false on the end or a read error.
    auto fill = [&](size_t want) {
        while (have - at < want) {
            if (base + have >= size) return false;
            if (have + read_piece > buffer_size && at > 0) {
                // Back to the buffer's start: no queued frame may still
                // point into it.
                frame_loop_wait();
                memmove(data, data + at, have - at);
                base += at;
                have -= at;
                at = 0;
            }
            size_t room = buffer_size - have, left = size - (base + have);
            size_t n = room < read_piece ? room : read_piece;
            if (n > left) n = left;
            ssize_t got = pread(fd, data + have, n, static_cast<off_t>(base + have));
            if (got <= 0) {
                if (got < 0 && errno == EINTR) continue;
                return false;
            }
            have += static_cast<size_t>(got);
        }
        return true;
    };
    long handed = 0;
    while (fill(record_header_length)) {
        const uint8_t* h = data + at;
        uint32_t caplen = host_u32(h + 8);
        if (caplen > limit || !fill(record_header_length + caplen)) break;
        h = data + at;
        pcap_pkthdr header{};
        header.ts.tv_sec = static_cast<int32_t>(host_u32(h));
        header.ts.tv_usec = static_cast<int32_t>(host_u32(h + 4));
        header.caplen = caplen;
        header.len = host_u32(h + 12);
        const uint8_t* frame = h + record_header_length;
        at += record_header_length + caplen;
        if (filter && !pcap_offline_filter(filter, &header, frame)) continue;
        mapped_position = static_cast<long>(base + at);
        handler(user, &header, frame);
        ++handed;
        if (capture.stop_signal || (stop_requested && stop_requested())) {
            *stopped = true;
            break;
        }
        if (max_packets > 0 && handed >= max_packets) break;
    }
    mapped_position = -1;
    // Queued frames point into the buffer.
    frame_loop_wait();
    fseek(stream, static_cast<long>(base + at), SEEK_SET);
    return handed;
}

long capture_file_position(pcap_t* handle) {
    if (mapped_position >= 0) return mapped_position;
    FILE* stream = pcap_file(handle);
    return stream ? ftell(stream) : -1;
}
