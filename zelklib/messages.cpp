#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "zelk.h"

namespace {
int quiet_flag = 0;
int really_quiet_flag = 0;
// Set while a structured writer records a frame instead of printing it.
int text_suppressed_flag = 0;
FILE* output_stream = nullptr;

// Text waits here and goes to the stream in large pieces: a frame's dozens
// of fragments cost one stdio call instead of one each. Whatever writes to
// the stream by other means drains this first (zelk_drain_output), so the
// order of the bytes is the order in which they were printed.
constexpr size_t pending_capacity = 1 << 16;
char pending[pending_capacity];
size_t pending_length = 0;

void put(const char* text, size_t length) {
    if (length > pending_capacity - pending_length) {
        zelk_drain_output();
        if (length > pending_capacity) {
            fwrite_unlocked(text, 1, length, zelk_output());
            return;
        }
    }
    memcpy(pending + pending_length, text, length);
    pending_length += length;
}

inline void put_char(char c) {
    if (pending_length == pending_capacity) zelk_drain_output();
    pending[pending_length++] = c;
}

inline void put_text(const char* text) { put(text, strlen(text)); }

}  // namespace

void zelk_drain_output() {
    if (pending_length == 0) return;
    fwrite_unlocked(pending, 1, pending_length, zelk_output());
    pending_length = 0;
}

int zelk_flush(FILE* stream) {
    zelk_drain_output();
    return fflush(stream);
}

void zelk_info(const char* text) {
    zelk_drain_output();
    printf("Info : %s\n", text);
}

void zelk_set_output(FILE* stream) {
    zelk_drain_output();
    output_stream = stream;
}

FILE* zelk_output() { return output_stream ? output_stream : stdout; }

bool zelk_output_enabled() { return !quiet_flag && !really_quiet_flag && !text_suppressed_flag; }

void zelk_set_text_suppressed(bool on) { text_suppressed_flag = on; }

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
struct format_shape {
    const char* format;
    format_kind kind;
    uint32_t length;  // of plain text
};

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
const format_shape& known_shape(const char* f) {
    static format_shape known[1024];
    format_shape& slot = known[(reinterpret_cast<uintptr_t>(f) >> 2) & 1023];
    if (slot.format != f || slot.kind == format_kind::unknown) slot = shape_of(f);
    return slot;
}

void put_number(const conversion& c, unsigned long value, bool negative) {
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
    put(p, static_cast<size_t>(end - p));
}

void write_simple(const char* f, va_list ap) {
    for (;;) {
        const char* percent = strchr(f, '%');
        if (!percent) {
            put_text(f);
            return;
        }
        put(f, static_cast<size_t>(percent - f));
        f = percent + 1;
        conversion c;
        parse_conversion(f, c);
        switch (c.kind) {
            case '%': put_char('%'); break;
            case 's': {
                const char* text = va_arg(ap, const char*);
                put_text(text ? text : "(null)");
                break;
            }
            case 'c': put_char(static_cast<char>(va_arg(ap, int))); break;
            case 'd': {
                long v = c.is_long ? va_arg(ap, long) : va_arg(ap, int);
                unsigned long magnitude = v < 0 ? 0UL - static_cast<unsigned long>(v) : static_cast<unsigned long>(v);
                put_number(c, magnitude, v < 0);
                break;
            }
            default: {
                unsigned long v = c.is_long ? va_arg(ap, unsigned long) : va_arg(ap, unsigned);
                put_number(c, v, false);
                break;
            }
        }
    }
}

}  // namespace

void zelk_print_field(const char* prefix, size_t prefix_length, zelk_conversion c, unsigned long magnitude,
                      bool negative, const char* suffix, size_t suffix_length) {
    if (quiet_flag || really_quiet_flag || text_suppressed_flag) return;
    put(prefix, prefix_length);
    if (c.kind == 'c') {
        put_char(static_cast<char>(magnitude));
    } else {
        conversion number;
        number.zero = c.zero;
        number.width = c.width;
        number.kind = c.kind;
        put_number(number, magnitude, negative);
    }
    put(suffix, suffix_length);
}

void zelk_print_field_text(const char* prefix, size_t prefix_length, const char* text, const char* suffix,
                           size_t suffix_length) {
    if (quiet_flag || really_quiet_flag || text_suppressed_flag) return;
    put(prefix, prefix_length);
    put_text(text ? text : "(null)");
    put(suffix, suffix_length);
}

void zelk_write(const char* text, size_t length) {
    if (quiet_flag || really_quiet_flag || text_suppressed_flag) return;
    put(text, length);
}

int zelk_printf(const char* format, ...) {
    if (quiet_flag || really_quiet_flag || text_suppressed_flag) return 0;
    const format_shape& shape = known_shape(format);
    if (shape.kind == format_kind::plain) {
        put(format, shape.length);
        return 0;
    }
    va_list ap;
    va_start(ap, format);
    if (shape.kind == format_kind::lone_string) {
        const char* text = va_arg(ap, const char*);
        put_text(text ? text : "(null)");
    } else if (shape.kind == format_kind::simple) {
        write_simple(format, ap);
    } else {
        zelk_drain_output();
        vfprintf(zelk_output(), format, ap);
    }
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
