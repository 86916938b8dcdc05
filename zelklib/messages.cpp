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
}  // namespace

void zelk_set_output(FILE* stream) { output_stream = stream; }

FILE* zelk_output() { return output_stream ? output_stream : stdout; }

bool zelk_output_enabled() { return !quiet_flag && !really_quiet_flag && !text_suppressed_flag; }

void zelk_set_text_suppressed(bool on) { text_suppressed_flag = on; }

bool zelk_quiet_active() { return quiet_flag || really_quiet_flag; }

namespace {

// Decoded text is printed in many small pieces, most of them plain text or
// text with a few integer and string fields. These are written here
// directly to the stream; any other conversion goes to vfprintf. Both give
// the same bytes.

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

// Formats are string literals, printed again and again: what a format
// needs is worked out once and kept by its address.
bool simple_format(const char* f) {
    static const char* known[1024];
    static bool simple[1024];
    size_t slot = (reinterpret_cast<uintptr_t>(f) >> 2) & 1023;
    if (known[slot] != f) {
        simple[slot] = parse_simple_format(f);
        known[slot] = f;
    }
    return simple[slot];
}

void put_number(FILE* out, const conversion& c, unsigned long value, bool negative) {
    // Digits from the right; the bases are constants so that no division
    // instruction runs per digit.
    char digits[24];
    char* end = digits + sizeof digits;
    char* p = end;
    if (c.kind == 'x' || c.kind == 'X') {
        const char* set = c.kind == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
        do {
            *--p = set[value & 0x0f];
            value >>= 4;
        } while (value);
    } else {
        do {
            *--p = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value);
    }
    int n = static_cast<int>(end - p);
    int length = n + (negative ? 1 : 0);
    int pad = static_cast<int>(c.width) - length;
    if (!c.zero)
        for (; pad > 0; --pad) putc_unlocked(' ', out);
    if (negative) putc_unlocked('-', out);
    for (; pad > 0; --pad) putc_unlocked('0', out);
    fwrite_unlocked(p, 1, static_cast<size_t>(n), out);
}

void write_simple(FILE* out, const char* f, va_list ap) {
    for (;;) {
        const char* percent = strchr(f, '%');
        if (!percent) {
            fputs_unlocked(f, out);
            return;
        }
        fwrite_unlocked(f, 1, static_cast<size_t>(percent - f), out);
        f = percent + 1;
        conversion c;
        parse_conversion(f, c);
        switch (c.kind) {
            case '%': putc_unlocked('%', out); break;
            case 's': {
                const char* text = va_arg(ap, const char*);
                fputs_unlocked(text ? text : "(null)", out);
                break;
            }
            case 'c': putc_unlocked(static_cast<unsigned char>(va_arg(ap, int)), out); break;
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

void zelk_print_field(const char* prefix, size_t prefix_length, zelk_conversion c, unsigned long magnitude,
                      bool negative, const char* suffix) {
    if (quiet_flag || really_quiet_flag || text_suppressed_flag) return;
    FILE* out = zelk_output();
    fwrite_unlocked(prefix, 1, prefix_length, out);
    if (c.kind == 'c') {
        putc_unlocked(static_cast<unsigned char>(magnitude), out);
    } else {
        conversion number;
        number.zero = c.zero;
        number.width = c.width;
        number.kind = c.kind;
        put_number(out, number, magnitude, negative);
    }
    fputs_unlocked(suffix, out);
}

void zelk_print_field_text(const char* prefix, size_t prefix_length, const char* text, const char* suffix) {
    if (quiet_flag || really_quiet_flag || text_suppressed_flag) return;
    FILE* out = zelk_output();
    fwrite_unlocked(prefix, 1, prefix_length, out);
    fputs_unlocked(text ? text : "(null)", out);
    fputs_unlocked(suffix, out);
}

int zelk_printf(const char* format, ...) {
    if (quiet_flag || really_quiet_flag || text_suppressed_flag) return 0;
    FILE* out = zelk_output();
    va_list ap;
    va_start(ap, format);
    if (simple_format(format))
        write_simple(out, format, ap);
    else
        vfprintf(out, format, ap);
    va_end(ap);
    return 0;
}

int zelk_fprintf(FILE* stream, const char* format, ...) {
    if (really_quiet_flag) return 0;
    if (quiet_flag && stream != stderr) return 0;
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
