#include "capture/pcap_open.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "capture/gz_reader.h"
#include "driver/settings.h"

namespace {

// Whether the regular file behind fd starts with the gzip magic bytes.
bool starts_with_gzip_magic(int fd) {
    unsigned char magic[2] = {};
    return pread(fd, magic, 2, 0) == 2 && magic[0] == 0x1f && magic[1] == 0x8b;
}

// The time stamp precision to ask libpcap for, from the file's first four
// bytes: nanoseconds for a nanosecond pcap file and for pcapng (whose
// interfaces name their own resolution, which libpcap scales to what is
// asked), microseconds otherwise, as the file holds them.
struct file_precision {
    int precision;
    bool nanosecond_pcap;
};
file_precision precision_of(const unsigned char magic[4]) {
    uint32_t m = static_cast<uint32_t>(magic[0]) << 24 | static_cast<uint32_t>(magic[1]) << 16 |
                 static_cast<uint32_t>(magic[2]) << 8 | magic[3];
    if (m == 0xa1b23c4d || m == 0x4d3cb2a1) return {PCAP_TSTAMP_PRECISION_NANO, true};
    if (m == 0x0a0d0d0a) return {PCAP_TSTAMP_PRECISION_NANO, false};
    return {PCAP_TSTAMP_PRECISION_MICRO, false};
}

ssize_t gz_cookie_read(void* cookie, char* buffer, size_t size) {
    return static_cast<gz_reader*>(cookie)->read(buffer, size);
}

int gz_cookie_close(void* cookie) {
    delete static_cast<gz_reader*>(cookie);
    return 0;
}

// A stdio stream that reads through zlib, so that libpcap can read a
// compressed file as it reads a plain one. The first four bytes are read
// ahead for their magic.
FILE* gz_stream(int fd, char* errbuf, file_precision* precision) {
    auto* reader = new gz_reader(fd);
    if (reader->look_ahead() == 4) *precision = precision_of(reader->ahead());
    cookie_io_functions_t functions{};
    functions.read = gz_cookie_read;
    functions.close = gz_cookie_close;
    FILE* stream = fopencookie(reader, "r", functions);
    if (!stream) {
        snprintf(errbuf, PCAP_ERRBUF_SIZE, "%s", strerror(errno));
        delete reader;
    }
    return stream;
}

// The stream's buffer must outlive it, and the handle closes the stream
// when it likes; a file is opened a few times a run at most, so each
// buffer is simply kept.
constexpr size_t read_buffer_size = 1 << 20;
char* read_buffer() {
    static std::vector<std::unique_ptr<char[]>> buffers;
    buffers.push_back(std::make_unique_for_overwrite<char[]>(read_buffer_size));
    return buffers.back().get();
}

}  // namespace

pcap_t* open_pcap_file(const char* path, char* errbuf, bool* nanosecond_pcap) {
    file_precision precision{PCAP_TSTAMP_PRECISION_MICRO, false};
    auto open_stream = [&](FILE* stream) {
        if (nanosecond_pcap) *nanosecond_pcap = precision.nanosecond_pcap;
        return pcap_fopen_offline_with_tstamp_precision(stream, static_cast<u_int>(precision.precision), errbuf);
    };
    int fd;
    if (strcmp(path, "-") == 0) {
        fd = dup(STDIN_FILENO);
    } else {
        fd = open(path, O_RDONLY | O_CLOEXEC);
        // A file we cannot open is left to libpcap, which says why.
        if (fd < 0) return pcap_open_offline(path, errbuf);
        struct stat st {};
        bool pipe = fstat(fd, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISSOCK(st.st_mode));
        if (!pipe && !starts_with_gzip_magic(fd)) {
            // A plain file is read through a large buffer: the default one
            // of a block costs a system call for every few frames.
            FILE* stream = fdopen(fd, "rb");
            if (!stream) {
                close(fd);
                return pcap_open_offline(path, errbuf);
            }
            setvbuf(stream, read_buffer(), _IOFBF, read_buffer_size);
            unsigned char magic[4];
            if (pread(fd, magic, sizeof magic, 0) == static_cast<ssize_t>(sizeof magic))
                precision = precision_of(magic);
            pcap_t* handle = open_stream(stream);
            if (!handle) fclose(stream);
            return handle;
        }
    }
    // Compressed files, and pipes, which cannot be rewound after a look at
    // their first bytes: zlib tells compressed from plain data as it reads.
    if (fd < 0) {
        snprintf(errbuf, PCAP_ERRBUF_SIZE, "%s: %s", path, strerror(errno));
        return nullptr;
    }
    FILE* stream = gz_stream(fd, errbuf, &precision);
    if (!stream) return nullptr;
    setvbuf(stream, read_buffer(), _IOFBF, read_buffer_size);
    pcap_t* handle = open_stream(stream);
    // On success the handle owns the stream and closes it with itself.
    if (!handle) {
        fclose(stream);
        if (const char* why = gz_reader::failure()) snprintf(errbuf, PCAP_ERRBUF_SIZE, "%s: %s", path, why);
    }
    return handle;
}

const char* compressed_read_error() { return gz_reader::failure(); }

pcap_t* open_live_device(const char* device, int snaplen, int promisc, char* errbuf, unsigned buffer_mib) {
    pcap_t* handle = pcap_create(device, errbuf);
    if (!handle) return nullptr;
    pcap_set_snaplen(handle, snaplen);
    pcap_set_promisc(handle, promisc);
    pcap_set_timeout(handle, 1000);
    // Each frame as it arrives, not a buffer block up to the timeout later:
    // the per-frame flush then shows it at once.
    pcap_set_immediate_mode(handle, 1);
    // A larger buffer rides out bursts that the decoding falls behind on.
    // libpcap takes the size as an int: 2048 MiB and more become the
    // largest size it can be given, not a wrapped (negative or zero) one.
    if (buffer_mib) {
        uint64_t bytes = static_cast<uint64_t>(buffer_mib) << 20;
        pcap_set_buffer_size(handle, bytes > INT_MAX ? INT_MAX : static_cast<int>(bytes));
    }
    // Nanosecond stamps where the --time-format asks for them; a device that
    // cannot give them keeps microseconds.
    if (settings.time_nanoseconds) pcap_set_tstamp_precision(handle, PCAP_TSTAMP_PRECISION_NANO);
    int status = pcap_activate(handle);
    if (status >= 0) return handle;
    // The texts pcap_open_live gives for the same failures.
    if (status == PCAP_ERROR)
        snprintf(errbuf, PCAP_ERRBUF_SIZE, "%s: %.*s", device, PCAP_ERRBUF_SIZE - 3, pcap_geterr(handle));
    else if (status == PCAP_ERROR_NO_SUCH_DEVICE || status == PCAP_ERROR_PERM_DENIED ||
             status == PCAP_ERROR_PROMISC_PERM_DENIED)
        snprintf(errbuf, PCAP_ERRBUF_SIZE, "%s: %s (%.*s)", device, pcap_statustostr(status), PCAP_ERRBUF_SIZE - 6,
                 pcap_geterr(handle));
    else
        snprintf(errbuf, PCAP_ERRBUF_SIZE, "%s: %s", device, pcap_statustostr(status));
    pcap_close(handle);
    return nullptr;
}
