#include "capture/gz_reader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "zelk_net.h"

namespace {
// zlib's reason for the last damaged compressed input, or empty.
char compressed_reason[200];
}  // namespace

gz_reader::gz_reader(int descriptor) : fd_(descriptor) { compressed_reason[0] = 0; }

gz_reader::~gz_reader() {
    if (inflating_) inflateEnd(&z_);
    close_file();
}

int gz_reader::close_file() {
    if (fd_ < 0) return 0;
    int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0 ? 0 : errno;
}

const char* gz_reader::failure() { return compressed_reason[0] ? compressed_reason : nullptr; }

// Reads more input behind what is left; false on a read error.
bool gz_reader::fill() {
    if (at_end_) return true;
    if (z_.avail_in > 0 && z_.next_in != in_.get()) memmove(in_.get(), z_.next_in, z_.avail_in);
    z_.next_in = in_.get();
    for (;;) {
        ssize_t n = ::read(fd_, in_.get() + z_.avail_in, in_size - z_.avail_in);
        if (n < 0 && errno == EINTR && !zelk_stop_requested()) continue;
        if (n < 0) {
            read_error_ = errno;
            return false;
        }
        if (n == 0) at_end_ = true;
        z_.avail_in += static_cast<unsigned>(n);
        return true;
    }
}

void gz_reader::fail(const char* why) {
    failed_ = true;
    snprintf(compressed_reason, sizeof compressed_reason, "gzip data: %s", why);
}

// Starts the member at the input, or ends the data there (gzread, too,
// ignores what follows the last member).
bool gz_reader::start_member() {
    while (z_.avail_in < 2 && !at_end_)
        if (!fill()) return false;
    if (z_.avail_in >= 2 && z_.next_in[0] == 0x1f && z_.next_in[1] == 0x8b) {
        if (inflateReset(&z_) != Z_OK) fail("can't start a member");
        in_member_ = !failed_;
    } else {
        z_.avail_in = 0;
        at_end_ = true;
    }
    return true;
}

size_t gz_reader::look_ahead() {
    while (ahead_length_ < sizeof ahead_) {
        ssize_t n = inflated(reinterpret_cast<char*>(ahead_) + ahead_length_, sizeof ahead_ - ahead_length_);
        if (n <= 0) break;
        ahead_length_ += static_cast<size_t>(n);
    }
    return ahead_length_;
}

ssize_t gz_reader::read(char* buffer, size_t size) {
    if (ahead_at_ < ahead_length_ && size > 0) {
        size_t n = std::min(size, ahead_length_ - ahead_at_);
        memcpy(buffer, ahead_ + ahead_at_, n);
        ahead_at_ += n;
        return static_cast<ssize_t>(n);
    }
    return inflated(buffer, size);
}

ssize_t gz_reader::inflated(char* buffer, size_t size) {
    if (failed_) {
        errno = EIO;
        return -1;
    }
    if (!looked_) {
        z_.next_in = in_.get();
        while (z_.avail_in < 2 && !at_end_)
            if (!fill()) return produced_or_error(0);
        looked_ = true;
        inflating_ = z_.avail_in >= 2 && z_.next_in[0] == 0x1f && z_.next_in[1] == 0x8b;
        if (inflating_) {
            if (inflateInit2(&z_, 15 + 16) != Z_OK) {
                inflating_ = false;
                fail("out of memory");
                errno = ENOMEM;
                return -1;
            }
            in_member_ = true;
        }
    }
    if (!inflating_) {
        if (z_.avail_in == 0 && !at_end_ && !fill()) return produced_or_error(0);
        size_t n = std::min<size_t>(size, z_.avail_in);
        memcpy(buffer, z_.next_in, n);
        z_.next_in += n;
        z_.avail_in -= static_cast<unsigned>(n);
        return static_cast<ssize_t>(n);
    }
    z_.next_out = reinterpret_cast<unsigned char*>(buffer);
    z_.avail_out = static_cast<unsigned>(std::min<size_t>(size, 1u << 30));
    unsigned wanted = z_.avail_out;
    while (z_.avail_out == wanted && !failed_) {
        if (!in_member_) {
            if (at_end_ && z_.avail_in == 0) break;
            if (!start_member()) return produced_or_error(wanted);
            continue;
        }
        if (z_.avail_in == 0 && !at_end_) {
            if (!fill()) return produced_or_error(wanted);
            continue;
        }
        int rc = inflate(&z_, Z_NO_FLUSH);
        if (rc == Z_STREAM_END) {
            in_member_ = false;
        } else if (rc == Z_BUF_ERROR) {
            // No progress with all the input taken: the member was cut
            // short, as gzread says too.
            if (z_.avail_in == 0 && at_end_) fail("unexpected end of file");
        } else if (rc != Z_OK) {
            fail(z_.msg ? z_.msg : zError(rc));
        }
    }
    return produced_or_error(wanted);
}

ssize_t gz_reader::produced_or_error(unsigned wanted) {
    size_t produced = wanted - z_.avail_out;
    if (produced > 0) return static_cast<ssize_t>(produced);
    if (failed_) {
        errno = EIO;
        return -1;
    }
    if (read_error_) {
        errno = read_error_;
        read_error_ = 0;
        return -1;
    }
    return 0;
}
