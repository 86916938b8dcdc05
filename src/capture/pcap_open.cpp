#include "capture/pcap_open.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "driver/settings.h"
#include "zelk_net.h"

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
// zlib's reason for the last damaged compressed input, or empty.
char compressed_reason[200];

// Reads gzip members one after the other (as "gzip -c a b" writes them), or
// passes data that does not start with the gzip magic through unchanged.
// Unlike gzread, which drops what it inflated in the call that met the
// damage, every byte inflated before a damaged block or a wrong check value
// is handed on first; the next read then fails with zlib's reason.
struct gz_reader {
    int fd;
    z_stream z{};
    bool looked = false;     // the first bytes were judged
    bool inflating = false;  // gzip data, not plain
    bool in_member = false;  // inside a gzip member
    bool at_end = false;     // the file gave all it has
    bool failed = false;     // damage found; reported by the next read
    int read_error = 0;      // errno of a failed read of the file
    std::unique_ptr<unsigned char[]> in = std::make_unique<unsigned char[]>(in_size);
    static constexpr size_t in_size = 1 << 17;

    explicit gz_reader(int descriptor) : fd(descriptor) {}
    ~gz_reader() {
        if (inflating) inflateEnd(&z);
        close(fd);
    }

    // Reads more input behind what is left; false on a read error.
    bool fill() {
        if (at_end) return true;
        if (z.avail_in > 0 && z.next_in != in.get()) memmove(in.get(), z.next_in, z.avail_in);
        z.next_in = in.get();
        for (;;) {
            ssize_t n = ::read(fd, in.get() + z.avail_in, in_size - z.avail_in);
            if (n < 0 && errno == EINTR && !zelk_stop_requested()) continue;
            if (n < 0) {
                read_error = errno;
                return false;
            }
            if (n == 0) at_end = true;
            z.avail_in += static_cast<unsigned>(n);
            return true;
        }
    }

    void fail(const char* why) {
        failed = true;
        snprintf(compressed_reason, sizeof compressed_reason, "gzip data: %s", why);
    }

    // Starts the member at the input, or ends the data there (gzread, too,
    // ignores what follows the last member).
    bool start_member() {
        while (z.avail_in < 2 && !at_end)
            if (!fill()) return false;
        if (z.avail_in >= 2 && z.next_in[0] == 0x1f && z.next_in[1] == 0x8b) {
            if (inflateReset(&z) != Z_OK) fail("can't start a member");
            in_member = !failed;
        } else {
            z.avail_in = 0;
            at_end = true;
        }
        return true;
    }

    // The first bytes, read ahead to judge the file's magic; handed out
    // before anything else.
    unsigned char ahead[4] = {};
    size_t ahead_length = 0, ahead_at = 0;
    size_t look_ahead() {
        while (ahead_length < sizeof ahead) {
            ssize_t n = inflated(reinterpret_cast<char*>(ahead) + ahead_length, sizeof ahead - ahead_length);
            if (n <= 0) break;
            ahead_length += static_cast<size_t>(n);
        }
        return ahead_length;
    }

    ssize_t read(char* buffer, size_t size) {
        if (ahead_at < ahead_length && size > 0) {
            size_t n = std::min(size, ahead_length - ahead_at);
            memcpy(buffer, ahead + ahead_at, n);
            ahead_at += n;
            return static_cast<ssize_t>(n);
        }
        return inflated(buffer, size);
    }

    ssize_t inflated(char* buffer, size_t size) {
        if (failed) {
            errno = EIO;
            return -1;
        }
        if (!looked) {
            z.next_in = in.get();
            while (z.avail_in < 2 && !at_end)
                if (!fill()) return produced_or_error(0);
            looked = true;
            inflating = z.avail_in >= 2 && z.next_in[0] == 0x1f && z.next_in[1] == 0x8b;
            if (inflating) {
                if (inflateInit2(&z, 15 + 16) != Z_OK) {
                    inflating = false;
                    fail("out of memory");
                    errno = ENOMEM;
                    return -1;
                }
                in_member = true;
            }
        }
        if (!inflating) {
            if (z.avail_in == 0 && !at_end && !fill()) return produced_or_error(0);
            size_t n = std::min<size_t>(size, z.avail_in);
            memcpy(buffer, z.next_in, n);
            z.next_in += n;
            z.avail_in -= static_cast<unsigned>(n);
            return static_cast<ssize_t>(n);
        }
        z.next_out = reinterpret_cast<unsigned char*>(buffer);
        z.avail_out = static_cast<unsigned>(std::min<size_t>(size, 1u << 30));
        unsigned wanted = z.avail_out;
        while (z.avail_out == wanted && !failed) {
            if (!in_member) {
                if (at_end && z.avail_in == 0) break;
                if (!start_member()) return produced_or_error(wanted);
                continue;
            }
            if (z.avail_in == 0) {
                // A member cut short ends the data; the reader of the
                // records says that the file is truncated.
                if (at_end) break;
                if (!fill()) return produced_or_error(wanted);
                continue;
            }
            int rc = inflate(&z, Z_NO_FLUSH);
            if (rc == Z_STREAM_END) {
                in_member = false;
            } else if (rc != Z_OK && rc != Z_BUF_ERROR) {
                fail(z.msg ? z.msg : zError(rc));
            }
        }
        return produced_or_error(wanted);
    }

    ssize_t produced_or_error(unsigned wanted) {
        size_t produced = wanted - z.avail_out;
        if (produced > 0) return static_cast<ssize_t>(produced);
        if (failed) {
            errno = EIO;
            return -1;
        }
        if (read_error) {
            errno = read_error;
            read_error = 0;
            return -1;
        }
        return 0;
    }
};

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
    if (reader->look_ahead() == sizeof reader->ahead) *precision = precision_of(reader->ahead);
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
    buffers.push_back(std::make_unique<char[]>(read_buffer_size));
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
    compressed_reason[0] = 0;
    FILE* stream = gz_stream(fd, errbuf, &precision);
    if (!stream) return nullptr;
    setvbuf(stream, read_buffer(), _IOFBF, read_buffer_size);
    pcap_t* handle = open_stream(stream);
    // On success the handle owns the stream and closes it with itself.
    if (!handle) {
        fclose(stream);
        if (compressed_reason[0]) snprintf(errbuf, PCAP_ERRBUF_SIZE, "%s: %s", path, compressed_reason);
    }
    return handle;
}

const char* compressed_read_error() { return compressed_reason[0] ? compressed_reason : nullptr; }

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
