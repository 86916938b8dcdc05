#include "capture/raw_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "capture/frame.h"
#include "driver/run.h"
#include "driver/settings.h"
#include "zelk.h"

namespace {

bool raw_log_failed = false;
// A duplicate of the log's descriptor: after a failed write the file is cut
// back to its last whole record, also once the run lost the right to
// open it again.
int raw_log_fd = -1;

void raw_log_failure(int error) {
    if (raw_log_failed) return;
    raw_log_failed = true;
    stop_with_error("Can't write raw log %s: %s", settings.logfile_raw, strerror(error ? error : EIO));
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
    // Captured traffic is nobody else's business.
    // Read access too: a failed write is mended by reading the records back.
    int fd = zelk_open_protected(path, O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) {
        snprintf(errbuf, PCAP_ERRBUF_SIZE, "%s: %s", path, zelk_open_error_text(path, errno));
        return false;
    }
    raw_log_fd = dup(fd);
    FILE* file = fdopen(fd, "wb");
    if (!file) {
        snprintf(errbuf, PCAP_ERRBUF_SIZE, "%s: %s", path, strerror(errno));
        close(fd);
        return false;
    }
    capture.raw_log_dumper = pcap_dump_fopen(handle, file);
    if (!capture.raw_log_dumper) {
        snprintf(errbuf, PCAP_ERRBUF_SIZE, "%s", pcap_geterr(handle));
        fclose(file);
        return false;
    }
    return true;
}

void write_raw_log(const pcap_pkthdr* header, const uint8_t* frame) {
    if (!capture.raw_log_dumper || raw_log_failed) return;
    pcap_dump(reinterpret_cast<u_char*>(capture.raw_log_dumper), header, frame);
    check_raw_log();
}

void check_raw_log() {
    if (!capture.raw_log_dumper || raw_log_failed) return;
    if (ferror(pcap_dump_file(capture.raw_log_dumper))) raw_log_failure(errno);
}

void close_raw_log() {
    if (capture.raw_log_dumper) {
        if (!raw_log_failed && pcap_dump_flush(capture.raw_log_dumper) != 0) raw_log_failure(errno);
        pcap_dump_close(capture.raw_log_dumper);
        capture.raw_log_dumper = nullptr;
    }
    if (raw_log_fd >= 0) {
        if (raw_log_failed) trim_to_whole_records(raw_log_fd);
        close(raw_log_fd);
        raw_log_fd = -1;
    }
}
