// Reads a file that may be gzip-compressed: gzip members one after the
// other (as "gzip -c a b" writes them), or data that does not start with
// the gzip magic passed through unchanged. The pcap, iptrace and snoop
// readers all read compressed files through it.
//
// Unlike zlib's gzread, which drops what it inflated in the call that met
// the damage, every byte inflated before a damaged block, a wrong check
// value or the cut end of a member is handed on first; the next read then
// fails with zlib's reason (gz_reader::failure).
#pragma once

#include <sys/types.h>
#include <zlib.h>

#include <cstddef>
#include <memory>

class gz_reader {
   public:
    // Takes the descriptor; the reader closes it.
    explicit gz_reader(int descriptor);
    ~gz_reader();
    gz_reader(const gz_reader&) = delete;
    gz_reader& operator=(const gz_reader&) = delete;

    // Reads up to size bytes: how many were read, 0 at the end of the data,
    // or -1 with errno set (EIO for damaged compressed data, whose reason
    // failure() then gives; the read's own errno otherwise, EINTR when a
    // stop signal interrupted a read that waited).
    ssize_t read(char* buffer, size_t size);

    // Reads the first four bytes ahead (for a file's magic) and returns how
    // many there are; read hands them out before anything else.
    size_t look_ahead();
    const unsigned char* ahead() const { return ahead_; }

    // Closes the descriptor: 0, or the errno of a failed close.
    int close_file();

    // "gzip data: REASON" with zlib's words for the damage the last reader
    // found, or null. Reset when a reader is made.
    static const char* failure();

   private:
    bool fill();
    void fail(const char* why);
    bool start_member();
    ssize_t inflated(char* buffer, size_t size);
    ssize_t produced_or_error(unsigned wanted);

    static constexpr size_t in_size = 1 << 17;
    int fd_;
    z_stream z_{};
    bool looked_ = false;     // the first bytes were judged
    bool inflating_ = false;  // gzip data, not plain
    bool in_member_ = false;  // inside a gzip member
    bool at_end_ = false;     // the file gave all it has
    bool failed_ = false;     // damage found; reported by the next read
    int read_error_ = 0;      // errno of a failed read of the file
    std::unique_ptr<unsigned char[]> in_ = std::make_unique<unsigned char[]>(in_size);
    unsigned char ahead_[4] = {};
    size_t ahead_length_ = 0, ahead_at_ = 0;
};
