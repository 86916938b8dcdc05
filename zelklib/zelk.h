// zelklib: the support library of nodrix. Messages and quiet modes,
// allocation, byte order, text formatters, identity, host names, signals,
// Internet checksums and the MAC vendor table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#define ZELK_PRINTF_FMT(a, b) __attribute__((format(printf, a, b)))

// Decoded text gathers in a text buffer and reaches its stream in large
// pieces: a frame's dozens of fragments cost one stdio call instead of one
// each. Every decoding thread owns one; the program's own lines (start-up,
// reports) go through the main one, which a single-threaded run also
// decodes into, so the order of the bytes is the order of the printing.
struct zelk_format_shape;
struct alignas(64) zelk_text {
    zelk_text();
    ~zelk_text();
    zelk_text(const zelk_text&) = delete;
    zelk_text& operator=(const zelk_text&) = delete;

    char* data;
    size_t length;
    size_t capacity;
    // Where a full buffer goes; without one the buffer grows, and its
    // owner takes the bytes.
    FILE* sink;
    // Set while a structured writer records a frame instead of printing it.
    bool suppressed;
    // What each format needs, remembered by its address.
    zelk_format_shape* shapes;
    // The length at the end of the last whole frame (zelk_mark_frame_end):
    // a full buffer hands on whole frames when it can, and a fatal signal
    // writes what lies before this mark.
    size_t frame_end;
};
// The main text buffer; it drains to the output stream.
zelk_text& zelk_main_text();

// Messages. zelk_printf writes to the output stream (standard output unless
// a test points it elsewhere), or into a text buffer; both printers obey the
// quiet modes. The format of zelk_printf must be a string that never changes
// (a literal or a table of literals): what it needs is remembered by its
// address.
int zelk_printf(const char* format, ...) ZELK_PRINTF_FMT(1, 2);
int zelk_printf(zelk_text& out, const char* format, ...) ZELK_PRINTF_FMT(2, 3);
int zelk_fprintf(FILE* stream, const char* format, ...) ZELK_PRINTF_FMT(2, 3);
// Where zelk_printf writes; nullptr restores standard output.
void zelk_set_output(FILE* stream);
FILE* zelk_output();
// The printers gather text and hand it to the output stream in large
// pieces. Code that writes to that stream, flushes it or checks it for
// errors by other means calls this first.
void zelk_drain_output();
// Hands what a buffer holds to its sink (nothing without one).
void zelk_drain(zelk_text& out);
// fflush after zelk_drain_output.
int zelk_flush(FILE* stream);
// "Info : text" on standard output, whatever the quiet modes.
void zelk_info(const char* text);
// Prints length bytes of text as they are.
void zelk_write(const char* text, size_t length);
void zelk_write(zelk_text& out, const char* text, size_t length);
// Appends text another buffer gathered (it obeyed the quiet modes when it
// was printed) to the main buffer.
void zelk_write_unfiltered(const char* text, size_t length);
// Writes count pieces of gathered text straight to the output stream's
// file, after what the main buffer and the stream hold: the bytes are not
// copied on the way. Returns 0, or the errno of a failed write.
int zelk_write_gathered(const struct iovec* pieces, int count);
// Writes length bytes to fd in full, going on after a signal that does not
// stop the run. After a stop by a signal (zelk_signal_stop) it waits at
// most half a second for a reader that takes nothing, and then gives up
// with ECANCELED. Returns 0 or an errno value.
int zelk_write_all(int fd, const void* data, size_t length);
// The first error of a write to the output stream's file (also those made
// by zelk_drain and zelk_write_gathered), or its stdio error; 0 when none.
// Text for a stream that failed is dropped.
int zelk_output_error();
// Called by the handler of a signal that stops the run: a write blocked
// on a reader that does not read returns (the handlers are installed
// without SA_RESTART; a write blocked in another thread is sent SIGURG,
// see zelk_install_write_wakeup). Async-signal-safe.
void zelk_signal_stop();
// Installs the do-nothing SIGURG handler (without SA_RESTART) that
// interrupts a write blocked in another thread.
void zelk_install_write_wakeup();
bool zelk_stopped_by_signal();
// Notes that the text in out up to here is whole frames.
inline void zelk_mark_frame_end(zelk_text& out) { out.frame_end = out.length; }
// For a fatal signal: writes the whole frames the main buffer holds to
// the output stream's file with write(2) alone. Async-signal-safe.
void zelk_write_frames_at_fault();
// For a fatal signal with worker threads, whose frames never pass the main
// buffer: writes all the text it holds (start-up lines and messages, which
// come before the frames still to be written). Async-signal-safe.
void zelk_write_text_at_fault();
// The output stream's file for a fatal signal's handler, or -1 when
// nothing may be written there (--really-quiet, or a write failed).
// Async-signal-safe.
int zelk_output_fd_at_fault();
// Writes length bytes for a fatal signal's handler: waits at most a second
// for a file that takes nothing, and never blocks in the write itself.
// Async-signal-safe.
void zelk_write_at_fault(int fd, const char* data, size_t length);
// True when zelk_printf would print anything at all.
bool zelk_output_enabled();
// While on, zelk_printf prints nothing into the main buffer (a structured
// writer records the frame instead); the quiet modes are not touched.
void zelk_set_text_suppressed(bool on);
// True under either quiet mode.
bool zelk_quiet_active();

// One printf conversion, parsed ahead of time: [0][width][l]{d,u,x,X,c}.
struct zelk_conversion {
    bool zero;
    uint8_t width;
    bool is_long;
    char kind;
};
// Prints prefix, one number by the conversion, then suffix; the same bytes
// as printf would, without parsing a format at run time.
void zelk_print_field(zelk_text& out, const char* prefix, size_t prefix_length, zelk_conversion c,
                      unsigned long magnitude, bool negative, const char* suffix, size_t suffix_length);
// The same for a %s conversion.
void zelk_print_field_text(zelk_text& out, const char* prefix, size_t prefix_length, const char* text,
                           const char* suffix, size_t suffix_length);

void zelk_set_quiet();
void zelk_clear_quiet();
int zelk_toggle_quiet();
void zelk_set_really_quiet();
void zelk_clear_really_quiet();
int zelk_toggle_really_quiet();

// Allocation: never returns on failure.
void* zelk_xmalloc(size_t size);
void* zelk_xrealloc(void* block, size_t size);
void* zelk_xcalloc(size_t count, size_t size);

// Byte order.
inline int zelk_ntohs(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }
inline int zelk_htons(uint16_t v) { return zelk_ntohs(v); }
inline uint32_t zelk_ntohl(uint32_t v) { return __builtin_bswap32(v); }
inline uint32_t zelk_htonl(uint32_t v) { return __builtin_bswap32(v); }

// Text formatters.
char* zelk_mac_to_text(const uint8_t* mac);
uint8_t* zelk_text_to_mac(const char* text);
char* zelk_prefix_to_text(uint32_t address, int prefix_length);
// Returns a new block the caller frees.
char* zelk_service_name(unsigned port, const char* protocol);
// Like zelk_service_name, but from a process-wide cache; the result stays
// valid for the whole run and must not be freed.
const char* zelk_service_name_cached(unsigned port, const char* protocol);
char* zelk_time_string();

// Identity and names.
void zelk_check_root();
// Live capture needs root, or CAP_NET_RAW (and CAP_NET_ADMIN for
// promiscuous mode); ends the program like zelk_check_root otherwise.
void zelk_check_capture_privilege(bool promiscuous);
bool zelk_may_capture(bool promiscuous);
// Switches a root process to the user (no supplementary groups) and drops
// every capability; false with a reason in `error` when that fails.
bool zelk_drop_privileges(const char* user_name, char* error, size_t error_size);
uint32_t zelk_resolve_host(const char* text);

// Files. Opens like open(2), but follows a symbolic link in a sticky
// world-writable directory only when it belongs to the directory's owner or
// to us, and with O_CREAT opens an existing file there only under the same
// rule, before truncating it (fails with EPERM otherwise).
int zelk_open_protected(const char* path, int flags, unsigned mode);
bool zelk_symlink_is_protected(const char* path);
// The reason for a failed zelk_open_protected.
const char* zelk_open_error_text(const char* path, int error);

// Signals.
typedef void (*zelk_sig_handler)(int);
int zelk_install_sig(zelk_sig_handler handler);

// Internet checksums.
struct zelk_pseudo_header_record {
    uint32_t source;
    uint32_t destination;
    uint8_t zero;
    uint8_t protocol;
    uint16_t length;  // network order
};
extern zelk_pseudo_header_record zelk_pseudo_header;

int zelk_in_cksum(const void* buffer, int length, int start_sum);
int zelk_tcp_checksum(const void* segment);
int zelk_udp_checksum(const void* datagram);
int zelk_checksum(uint8_t* packet, int protocol, int length);

// MAC vendors.
const char* zelk_vendor_name(const uint8_t* mac);

// Character sets (interfaces, raw sockets and Bluetooth: zelk_net.h).
// Converts UTF-8 text into ISO-8859-1; output needs strlen(input) bytes.
// Returns 2 when the output filled exactly; otherwise puts '?' behind the
// converted bytes and returns -1. The output is not NUL-terminated.
int zelk_utf8_decode(char* output, const char* input);
