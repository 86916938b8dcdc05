#include "capture/raw_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "capture/frame.h"
#include "driver/run.h"
#include "driver/settings.h"
#include "zelk.h"

namespace {

bool raw_log_failed = false;
// The log's descriptor: the records are gathered here and written with
// zelk_write_all, so that a stop signal ends a write that blocks (a FIFO
// nobody reads), and after a failed write the file is cut back to its last
// whole record, also once the run lost the right to open it again.
int raw_log_fd = -1;
bool raw_log_regular = false;

// The records not yet written; `whole` bytes of them are whole records
// (the rest is the one being added). Plain globals: a fatal signal's
// handler writes the whole records from here.
char* pending = nullptr;
size_t pending_length = 0;
size_t pending_capacity = 0;
volatile size_t whole = 0;
constexpr size_t write_size = 1 << 16;

void raw_log_failure(int error) {
    if (raw_log_failed) return;
    raw_log_failed = true;
    if (error == ECANCELED) return;  // a stop signal, and nobody took the data
    if (error == EPIPE) {
        // The reader of a FIFO left: an orderly end, as for standard output.
        if (!capture.stop_signal) capture.stop_signal = SIGPIPE;
        if (capture.handle) pcap_breakloop(capture.handle);
        return;
    }
    stop_with_error("Can't write raw log %s: %s", settings.logfile_raw, strerror(error ? error : EIO));
}

// Writes the whole records gathered so far.
void write_whole_records() {
    size_t ready = whole;
    if (ready == 0 || raw_log_failed) return;
    // A fatal signal during the write must not write these records again.
    whole = 0;
    int error = zelk_write_all(raw_log_fd, pending, ready);
    memmove(pending, pending + ready, pending_length - ready);
    pending_length -= ready;
    if (error) raw_log_failure(error);
}

// libpcap writes through stdio; an unbuffered stream hands each piece here.
ssize_t gather(void*, const char* data, size_t size) {
    if (raw_log_failed) return static_cast<ssize_t>(size);
    if (pending_capacity - pending_length < size) {
        size_t capacity = pending_capacity ? pending_capacity : write_size * 2;
        while (capacity - pending_length < size) capacity *= 2;
        // The handler of a fatal signal never sees a block being moved.
        char* grown = static_cast<char*>(zelk_xmalloc(capacity));
        if (pending_length) memcpy(grown, pending, pending_length);
        char* old = pending;
        pending = grown;
        pending_capacity = capacity;
        free(old);
    }
    memcpy(pending + pending_length, data, size);
    pending_length += size;
    return static_cast<ssize_t>(size);
}

uint32_t read_u32(const uint8_t* p, bool swapped) {
    uint32_t v;
    memcpy(&v, p, 4);
    return swapped ? __builtin_bswap32(v) : v;
}

// Cuts the file after its last whole record.
void trim_to_whole_records(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0) return;
    auto size = static_cast<uint64_t>(st.st_size);
    uint8_t header[24];
    if (size < sizeof header) {
        // Not even the file header made it.
        if (ftruncate(fd, 0) != 0) return;
        return;
    }
    if (pread(fd, header, sizeof header, 0) != static_cast<ssize_t>(sizeof header)) return;
    bool swapped = read_u32(header, false) != 0xa1b2c3d4u && read_u32(header, false) != 0xa1b23c4du;
    uint64_t at = sizeof header;
    uint64_t whole = at;
    uint8_t record[16];
    while (at + sizeof record <= size && pread(fd, record, sizeof record, static_cast<off_t>(at)) == 16) {
        uint64_t end = at + sizeof record + read_u32(record + 8, swapped);
        if (end > size) break;
        whole = at = end;
    }
    if (whole < size && ftruncate(fd, static_cast<off_t>(whole)) != 0) return;
}

}  // namespace

bool open_raw_log(pcap_t* handle, const char* path, char* errbuf) {
    // A FIFO is opened for writing only: when its reader leaves, a write
    // fails with EPIPE instead of filling a pipe nobody reads.
    struct stat st {};
    bool fifo = stat(path, &st) == 0 && S_ISFIFO(st.st_mode);
    // Captured traffic is nobody else's business.
    // Read access too: a failed write is mended by reading the records back.
    int fd = zelk_open_protected(path, fifo ? O_WRONLY : O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) {
        snprintf(errbuf, PCAP_ERRBUF_SIZE, "%s: %s", path, zelk_open_error_text(path, errno));
        return false;
    }
    raw_log_regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    cookie_io_functions_t functions{};
    functions.write = gather;
    FILE* file = fopencookie(nullptr, "w", functions);
    if (!file) {
        snprintf(errbuf, PCAP_ERRBUF_SIZE, "%s: %s", path, strerror(errno));
        close(fd);
        return false;
    }
    setvbuf(file, nullptr, _IONBF, 0);
    raw_log_fd = fd;
    capture.raw_log_dumper = pcap_dump_fopen(handle, file);
    if (!capture.raw_log_dumper) {
        snprintf(errbuf, PCAP_ERRBUF_SIZE, "%s", pcap_geterr(handle));
        fclose(file);
        close(fd);
        raw_log_fd = -1;
        return false;
    }
    whole = pending_length;
    return true;
}

void write_raw_log(const pcap_pkthdr* header, const uint8_t* frame) {
    if (!capture.raw_log_dumper || raw_log_failed) return;
    pcap_dump(reinterpret_cast<u_char*>(capture.raw_log_dumper), header, frame);
    whole = pending_length;
    if (pending_length >= write_size) write_whole_records();
}

void check_raw_log() {
    if (!capture.raw_log_dumper || raw_log_failed) return;
    if (ferror(pcap_dump_file(capture.raw_log_dumper))) raw_log_failure(errno);
}

void close_raw_log() {
    if (capture.raw_log_dumper) {
        whole = pending_length;
        write_whole_records();
        pcap_dump_close(capture.raw_log_dumper);
        capture.raw_log_dumper = nullptr;
    }
    if (raw_log_fd >= 0) {
        if (raw_log_failed && raw_log_regular) trim_to_whole_records(raw_log_fd);
        close(raw_log_fd);
        raw_log_fd = -1;
    }
    free(pending);
    pending = nullptr;
    pending_length = pending_capacity = 0;
    whole = 0;
}

void write_raw_log_at_fault() {
    if (raw_log_fd < 0 || raw_log_failed) return;
    zelk_write_at_fault(raw_log_fd, pending, whole);
    whole = 0;
}
