#include <cstdarg>
#include <cstdlib>

#include "zelk.h"

namespace {
int quiet_flag = 0;
int really_quiet_flag = 0;
FILE* output_stream = nullptr;
}  // namespace

void zelk_set_output(FILE* stream) { output_stream = stream; }

FILE* zelk_output() { return output_stream ? output_stream : stdout; }

bool zelk_output_enabled() { return !quiet_flag && !really_quiet_flag; }

int zelk_printf(const char* format, ...) {
    if (quiet_flag || really_quiet_flag) return 0;
    va_list ap;
    va_start(ap, format);
    vfprintf(zelk_output(), format, ap);
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
