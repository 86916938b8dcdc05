#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "zelk.h"

namespace {
int quiet_flag = 0;
int really_quiet_flag = 0;
FILE* output_stream = nullptr;

constexpr size_t drain_size = 1 << 16;

// The first failed write to the output stream's file, and that file.
std::atomic<int> output_write_error{0};
std::atomic<int> failed_fd{-1};

void note_write_error(int fd, int error) {
    int expected = 0;
    if (output_write_error.compare_exchange_strong(expected, error)) failed_fd.store(fd);
}

// The error of an earlier write to fd, or 0.
int write_error_of(int fd) {
    int error = output_write_error.load();
    return error && failed_fd.load() == fd ? error : 0;
}

// Set by a signal that stops the run.
volatile sig_atomic_t stop_signalled = 0;
// The thread in a write that may block, for the signal to reach it.
std::atomic<bool> writer_waiting{false};
pthread_t writer_thread;

// How long a stopping run waits for a reader that takes nothing.
constexpr int stop_grace_ms = 500;

// Whether a stopping run may write now: the file takes data within the
// grace time (a regular file always does).
bool writable_while_stopping(int fd) {
    pollfd p{fd, POLLOUT, 0};
    for (;;) {
        int ready = poll(&p, 1, stop_grace_ms);
        if (ready < 0 && errno == EINTR) continue;
        return ready > 0;
    }
}

// Writes the pieces in full; see zelk_write_all.
int write_pieces(int fd, iovec* rest, int n) {
    int first = 0;
    for (;;) {
        while (first < n && rest[first].iov_len == 0) ++first;
        if (first == n) break;
        ssize_t written;
        if (stop_signalled) {
            // At most PIPE_BUF bytes once the file takes data: such a write
            // to a pipe does not block.
            if (!writable_while_stopping(fd)) return ECANCELED;
            struct stat st {};
            bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
            size_t size = regular || rest[first].iov_len < PIPE_BUF ? rest[first].iov_len : PIPE_BUF;
            written = write(fd, rest[first].iov_base, size);
        } else {
            writer_thread = pthread_self();
            writer_waiting.store(true);
            // A stop signal between the test above and the write is seen at
            // the latest when the blocked write is interrupted by the next one.
            written = stop_signalled ? -1 : writev(fd, rest + first, n - first);
            if (stop_signalled && written < 0) errno = EINTR;
            writer_waiting.store(false);
        }
        if (written < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (written == 0) return EIO;
        // A short write: skip what went out and write the rest.
        auto left = static_cast<size_t>(written);
        while (first < n && left >= rest[first].iov_len) left -= rest[first++].iov_len;
        if (first < n) {
            rest[first].iov_base = static_cast<char*>(rest[first].iov_base) + left;
            rest[first].iov_len -= left;
        }
    }
    return 0;
}

// Hands length bytes to the sink: straight to its file when it has one, so
// that a signal can end a write that blocks.
void write_to_sink(FILE* sink, const char* data, size_t length) {
    int fd = fileno(sink);
    if (fd < 0) {
        fwrite_unlocked(data, 1, length, sink);
        return;
    }
    if (write_error_of(fd)) return;
    // Whatever stdio holds (printf by other code) goes first.
    if (fflush(sink) != 0) {
        note_write_error(fd, errno ? errno : EIO);
        return;
    }
    if (int error = zelk_write_all(fd, data, length)) note_write_error(fd, error);
}

void grow(zelk_text& out, size_t more) {
    size_t capacity = out.capacity;
    while (capacity - out.length < more) capacity *= 2;
    out.data = static_cast<char*>(zelk_xrealloc(out.data, capacity));
    out.capacity = capacity;
}

// Makes room for `length` more bytes, or writes text that would not fit
// even an empty buffer straight to the sink; false when it did that.
__attribute__((noinline)) bool make_room(zelk_text& out, const char* text, size_t length) {
    if (out.sink) {
        // Whole frames go out and the current one moves to the front, so
        // the file never ends inside a frame that was not finished.
        if (out.frame_end > 0 && out.frame_end < out.length && out.length - out.frame_end + length <= out.capacity) {
            // A fatal signal during the write must not write them again.
            size_t whole = out.frame_end;
            out.frame_end = 0;
            write_to_sink(out.sink, out.data, whole);
            memmove(out.data, out.data + whole, out.length - whole);
            out.length -= whole;
            return true;
        }
        zelk_drain(out);
        if (length > out.capacity) {
            write_to_sink(out.sink, text, length);
            return false;
        }
    } else {
        grow(out, length);
    }
    return true;
}

inline void put(zelk_text& out, const char* text, size_t length) {
    if (__builtin_expect(length > out.capacity - out.length, 0) && !make_room(out, text, length)) return;
    memcpy(out.data + out.length, text, length);
    out.length += length;
}

inline void put_char(zelk_text& out, char c) {
    if (__builtin_expect(out.length == out.capacity, 0)) make_room(out, nullptr, 1);
    out.data[out.length++] = c;
}

inline void put_text(zelk_text& out, const char* text) { put(out, text, strlen(text)); }

inline bool printing(const zelk_text& out) { return !quiet_flag && !really_quiet_flag && !out.suppressed; }

}  // namespace

zelk_text& zelk_main_text() {
    // Never destroyed: text may still be drained while the program exits.
    static zelk_text& text = *[] {
        auto* main = new zelk_text;
        main->sink = zelk_output();
        return main;
    }();
    return text;
}

void zelk_drain(zelk_text& out) {
    if (out.length == 0 || !out.sink) return;
    out.frame_end = 0;
    write_to_sink(out.sink, out.data, out.length);
    out.length = 0;
}

int zelk_write_all(int fd, const void* data, size_t length) {
    iovec piece{const_cast<void*>(data), length};
    return write_pieces(fd, &piece, 1);
}

int zelk_output_error() {
    if (int error = write_error_of(fileno(zelk_output()))) return error;
    return ferror(zelk_output()) ? (errno ? errno : EIO) : 0;
}

void zelk_signal_stop() {
    stop_signalled = 1;
    if (writer_waiting.load() && !pthread_equal(writer_thread, pthread_self())) pthread_kill(writer_thread, SIGURG);
}

namespace {
void wake_up(int) {}
}  // namespace

void zelk_install_write_wakeup() {
    struct sigaction action {};
    action.sa_handler = wake_up;
    sigemptyset(&action.sa_mask);
    sigaction(SIGURG, &action, nullptr);
}

bool zelk_stopped_by_signal() { return stop_signalled; }

void zelk_write_at_fault(int fd, const char* data, size_t length) {
    struct stat st {};
    bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    size_t done = 0;
    while (done < length) {
        pollfd p{fd, POLLOUT, 0};
        int ready = poll(&p, 1, 1000);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return;
        size_t size = length - done;
        if (!regular && size > PIPE_BUF) size = PIPE_BUF;
        ssize_t n = write(fd, data + done, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

void zelk_write_frames_at_fault() {
    zelk_text& out = zelk_main_text();
    if (!out.sink || out.frame_end == 0) return;
    int fd = fileno_unlocked(out.sink);
    if (fd < 0 || write_error_of(fd)) return;
    zelk_write_at_fault(fd, out.data, out.frame_end);
    out.frame_end = 0;
}

void zelk_write_text_at_fault() {
    zelk_text& out = zelk_main_text();
    int fd = zelk_output_fd_at_fault();
    if (fd < 0 || out.length == 0) return;
    size_t length = out.length;
    out.length = out.frame_end = 0;
    zelk_write_at_fault(fd, out.data, length);
}

int zelk_output_fd_at_fault() {
    zelk_text& out = zelk_main_text();
    if (really_quiet_flag || !out.sink) return -1;
    int fd = fileno_unlocked(out.sink);
    if (fd < 0 || write_error_of(fd)) return -1;
    return fd;
}

void zelk_drain_output() { zelk_drain(zelk_main_text()); }

int zelk_flush(FILE* stream) {
    zelk_drain_output();
    if (fflush(stream) != 0) return EOF;
    if (int error = write_error_of(fileno(stream ? stream : zelk_output()))) {
        errno = error;
        return EOF;
    }
    return 0;
}

void zelk_info(const char* text) {
    zelk_drain_output();
    printf("Info : %s\n", text);
}

void zelk_set_output(FILE* stream) {
    zelk_drain_output();
    output_stream = stream;
    zelk_main_text().sink = zelk_output();
}

FILE* zelk_output() { return output_stream ? output_stream : stdout; }

bool zelk_output_enabled() { return printing(zelk_main_text()); }

void zelk_set_text_suppressed(bool on) { zelk_main_text().suppressed = on; }

bool zelk_quiet_active() { return quiet_flag || really_quiet_flag; }

namespace {

// Decoded text is printed in many small pieces, most of them plain text or
// text with a few integer and string fields. These are written here
// directly; any other conversion goes to vfprintf. Both give the same bytes.

// One conversion this writer handles: [0][width][l]{d,u,x,X,s,c} or %%.
struct conversion {
    bool zero = false;
    unsigned width = 0;
    bool is_long = false;
    char kind = 0;
};

// Reads the conversion after a '%'; false when vfprintf must do it.
bool parse_conversion(const char*& f, conversion& c) {
    if (*f == '%') {
        c.kind = '%';
        ++f;
        return true;
    }
    if (*f == '0') {
        c.zero = true;
        ++f;
    }
    while (*f >= '0' && *f <= '9') {
        c.width = c.width * 10 + static_cast<unsigned>(*f - '0');
        if (c.width > 64) return false;
        ++f;
    }
    if (*f == 'l') {
        c.is_long = true;
        ++f;
    }
    c.kind = *f;
    switch (c.kind) {
        case 'd':
        case 'u':
        case 'x':
        case 'X': break;
        case 's':
        case 'c':
            if (c.zero || c.width || c.is_long) return false;
            break;
        default: return false;
    }
    ++f;
    return true;
}

bool parse_simple_format(const char* f) {
    while ((f = strchr(f, '%'))) {
        ++f;
        conversion c;
        if (!parse_conversion(f, c)) return false;
    }
    return true;
}

// What a format needs, worked out once: most are plain text or a lone %s.
enum class format_kind : uint8_t { unknown, plain, lone_string, simple, other };

}  // namespace

struct zelk_format_shape {
    const char* format;
    format_kind kind;
    uint32_t length;  // of plain text
};

namespace {

using format_shape = zelk_format_shape;
constexpr size_t shape_slots = 1024;

format_shape shape_of(const char* f) {
    format_shape shape{f, format_kind::other, 0};
    if (!strchr(f, '%')) {
        shape.kind = format_kind::plain;
        shape.length = static_cast<uint32_t>(strlen(f));
    } else if (strcmp(f, "%s") == 0) {
        shape.kind = format_kind::lone_string;
    } else if (parse_simple_format(f)) {
        shape.kind = format_kind::simple;
    }
    return shape;
}

// Formats are string literals, printed again and again: their shapes are
// kept by address.
const format_shape& known_shape(zelk_text& out, const char* f) {
    format_shape& slot = out.shapes[(reinterpret_cast<uintptr_t>(f) >> 2) & (shape_slots - 1)];
    if (slot.format != f || slot.kind == format_kind::unknown) slot = shape_of(f);
    return slot;
}

void put_number(zelk_text& out, const conversion& c, unsigned long value, bool negative) {
    // Built from the right in one piece: digits, zeros, sign, spaces. The
    // bases are constants so that no division instruction runs.
    static const char pairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    char text[96];  // a width of at most 64, at most 20 digits and a sign
    char* end = text + sizeof text;
    char* p = end;
    if (c.kind == 'x' || c.kind == 'X') {
        const char* set = c.kind == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
        do {
            *--p = set[value & 0x0f];
            value >>= 4;
        } while (value);
    } else {
        while (value >= 100) {
            const char* pair = pairs + 2 * (value % 100);
            value /= 100;
            *--p = pair[1];
            *--p = pair[0];
        }
        if (value >= 10) {
            *--p = pairs[2 * value + 1];
            *--p = pairs[2 * value];
        } else {
            *--p = static_cast<char>('0' + value);
        }
    }
    int pad = static_cast<int>(c.width) - static_cast<int>(end - p) - (negative ? 1 : 0);
    if (c.zero)
        for (; pad > 0; --pad) *--p = '0';
    if (negative) *--p = '-';
    for (; pad > 0; --pad) *--p = ' ';
    put(out, p, static_cast<size_t>(end - p));
}

void write_simple(zelk_text& out, const char* f, va_list ap) {
    for (;;) {
        const char* percent = strchr(f, '%');
        if (!percent) {
            put_text(out, f);
            return;
        }
        put(out, f, static_cast<size_t>(percent - f));
        f = percent + 1;
        conversion c;
        parse_conversion(f, c);
        switch (c.kind) {
            case '%': put_char(out, '%'); break;
            case 's': {
                const char* text = va_arg(ap, const char*);
                put_text(out, text ? text : "(null)");
                break;
            }
            case 'c': put_char(out, static_cast<char>(va_arg(ap, int))); break;
            case 'd': {
                long v = c.is_long ? va_arg(ap, long) : va_arg(ap, int);
                unsigned long magnitude = v < 0 ? 0UL - static_cast<unsigned long>(v) : static_cast<unsigned long>(v);
                put_number(out, c, magnitude, v < 0);
                break;
            }
            default: {
                unsigned long v = c.is_long ? va_arg(ap, unsigned long) : va_arg(ap, unsigned);
                put_number(out, c, v, false);
                break;
            }
        }
    }
}

}  // namespace

zelk_text::zelk_text()
    : data(static_cast<char*>(zelk_xmalloc(drain_size))),
      length(0),
      capacity(drain_size),
      sink(nullptr),
      suppressed(false),
      shapes(static_cast<zelk_format_shape*>(zelk_xcalloc(shape_slots, sizeof(zelk_format_shape)))),
      frame_end(0) {}

zelk_text::~zelk_text() {
    free(data);
    free(shapes);
}

void zelk_print_field(zelk_text& out, const char* prefix, size_t prefix_length, zelk_conversion c,
                      unsigned long magnitude, bool negative, const char* suffix, size_t suffix_length) {
    if (!printing(out)) return;
    put(out, prefix, prefix_length);
    if (c.kind == 'c') {
        put_char(out, static_cast<char>(magnitude));
    } else {
        conversion number;
        number.zero = c.zero;
        number.width = c.width;
        number.kind = c.kind;
        put_number(out, number, magnitude, negative);
    }
    put(out, suffix, suffix_length);
}

void zelk_print_field_text(zelk_text& out, const char* prefix, size_t prefix_length, const char* text,
                           const char* suffix, size_t suffix_length) {
    if (!printing(out)) return;
    put(out, prefix, prefix_length);
    put_text(out, text ? text : "(null)");
    put(out, suffix, suffix_length);
}

void zelk_write(zelk_text& out, const char* text, size_t length) {
    if (!printing(out)) return;
    put(out, text, length);
}

void zelk_write(const char* text, size_t length) { zelk_write(zelk_main_text(), text, length); }

void zelk_write_unfiltered(const char* text, size_t length) {
    if (really_quiet_flag) return;
    put(zelk_main_text(), text, length);
}

int zelk_write_gathered(const struct iovec* pieces, int count) {
    if (really_quiet_flag || count <= 0) return 0;
    FILE* sink = zelk_output();
    if (zelk_flush(sink) != 0) return errno ? errno : EIO;
    int fd = fileno(sink);
    struct iovec rest[IOV_MAX];
    while (count > 0) {
        int n = count < IOV_MAX ? count : IOV_MAX;
        memcpy(rest, pieces, n * sizeof *rest);
        if (int error = write_pieces(fd, rest, n)) {
            note_write_error(fd, error);
            return error;
        }
        pieces += n;
        count -= n;
    }
    return 0;
}

namespace {

int print_into(zelk_text& out, const char* format, va_list ap) {
    const format_shape& shape = known_shape(out, format);
    if (shape.kind == format_kind::plain) {
        put(out, format, shape.length);
    } else if (shape.kind == format_kind::lone_string) {
        const char* text = va_arg(ap, const char*);
        put_text(out, text ? text : "(null)");
    } else if (shape.kind == format_kind::simple) {
        write_simple(out, format, ap);
    } else {
        char small[256];
        va_list again;
        va_copy(again, ap);
        int n = vsnprintf(small, sizeof small, format, ap);
        if (n >= 0 && static_cast<size_t>(n) < sizeof small) {
            put(out, small, static_cast<size_t>(n));
        } else if (n > 0) {
            char* big = static_cast<char*>(zelk_xmalloc(static_cast<size_t>(n) + 1));
            vsnprintf(big, static_cast<size_t>(n) + 1, format, again);
            put(out, big, static_cast<size_t>(n));
            free(big);
        }
        va_end(again);
    }
    return 0;
}

}  // namespace

int zelk_printf(zelk_text& out, const char* format, ...) {
    if (!printing(out)) return 0;
    va_list ap;
    va_start(ap, format);
    print_into(out, format, ap);
    va_end(ap);
    return 0;
}

int zelk_printf(const char* format, ...) {
    zelk_text& out = zelk_main_text();
    if (!printing(out)) return 0;
    va_list ap;
    va_start(ap, format);
    print_into(out, format, ap);
    va_end(ap);
    return 0;
}

int zelk_fprintf(FILE* stream, const char* format, ...) {
    if (really_quiet_flag) return 0;
    if (quiet_flag && stream != stderr) return 0;
    zelk_drain_output();
    va_list ap;
    va_start(ap, format);
    vfprintf(stream, format, ap);
    va_end(ap);
    return 0;
}

void zelk_set_quiet() { quiet_flag = 1; }
void zelk_clear_quiet() { quiet_flag = 0; }
int zelk_toggle_quiet() { return quiet_flag = !quiet_flag; }
void zelk_set_really_quiet() { really_quiet_flag = 1; }
void zelk_clear_really_quiet() { really_quiet_flag = 0; }
int zelk_toggle_really_quiet() { return really_quiet_flag = !really_quiet_flag; }

static void out_of_memory() {
    fprintf(stderr, "Error: %s\n", "Virtual memory exhausted.");
    exit(1);
}

void* zelk_xmalloc(size_t size) {
    void* p = malloc(size ? size : 1);
    if (!p) out_of_memory();
    return p;
}

void* zelk_xrealloc(void* block, size_t size) {
    void* p = realloc(block, size ? size : 1);
    if (!p) out_of_memory();
    return p;
}

void* zelk_xcalloc(size_t count, size_t size) {
    void* p = calloc(count ? count : 1, size ? size : 1);
    if (!p) out_of_memory();
    return p;
}
