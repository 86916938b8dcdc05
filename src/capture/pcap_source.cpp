#include "capture/pcap_source.h"

#include <arpa/inet.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "capture/frame.h"
#include "capture/frame_time.h"
#include "capture/status_lines.h"
#include "capture/mapped_pcap.h"
#include "capture/pcap_open.h"
#include "capture/raw_log.h"
#include "capture/slice.h"
#include "decode/decoder.h"
#include "driver/run.h"
#include "driver/server.h"
#include "driver/settings.h"
#include "output/record.h"
#include "pipeline/frame_loop.h"
#include "zelk_net.h"

namespace {

// libpcap's default device: the first one it finds.
char* default_device(char* errbuf) {
    pcap_if_t* devices = nullptr;
    if (pcap_findalldevs(&devices, errbuf) == -1) return nullptr;
    char* name = nullptr;
    if (devices) {
        name = strdup(devices->name);
    } else {
        snprintf(errbuf, PCAP_ERRBUF_SIZE, "no suitable device found");
    }
    pcap_freealldevs(devices);
    return name;
}

// The kernel's counts taken when a stop was requested, and the frame
// number the drain that followed worked up to.
pcap_stat stop_statistics;
bool have_stop_statistics = false;
unsigned long drain_target = 0;

// Set while frames come from a mapped file, whose bytes stay put.
bool frames_stay = false;
// Set when a slice has read its last record.
bool reading_ended = false;

// Hands over every frame the kernel had counted as received and not
// dropped when the stop came; frames that came later are left.
void drain_live_capture(pcap_t* handle, unsigned long frames_before, int max_packets) {
    if (pcap_stats(handle, &stop_statistics) != 0) return;
    have_stop_statistics = true;
    drain_target = frames_before + (stop_statistics.ps_recv - stop_statistics.ps_drop);
    if (max_packets > 0) drain_target = std::min(drain_target, frames_before + static_cast<unsigned long>(max_packets));
    char errbuf[PCAP_ERRBUF_SIZE];
    pcap_setnonblock(handle, 1, errbuf);
    int fd = pcap_get_selectable_fd(handle);
    // A ring block is handed over when it fills or after the read timeout.
    time_t deadline = time(nullptr) + 3;
    while (capture.frame_counter < drain_target && capture.exit_status == 0 && time(nullptr) <= deadline) {
        int n = pcap_dispatch(handle, -1, pcap_frame_handler, reinterpret_cast<u_char*>(capture.raw_log_dumper));
        frame_loop_flush();
        if (n < 0) break;
        if (n == 0 && fd >= 0) {
            pollfd p{fd, POLLIN, 0};
            poll(&p, 1, 100);
        }
    }
}

// pcap_loop, one burst of frames at a time: the frame loop hears when the
// kernel's frames at hand were all handed over and no more came for a
// millisecond.
int live_loop(pcap_t* handle, int count, u_char* user) {
    int fd = pcap_get_selectable_fd(handle);
    for (;;) {
        int n = pcap_dispatch(handle, count > 0 ? count : -1, pcap_frame_handler, user);
        if (n < 0 || (count > 0 && (count -= n) <= 0)) {
            frame_loop_flush();
            return n < 0 ? n : 0;
        }
        if (frame_loop_frames_waiting()) {
            pollfd p{fd, POLLIN, 0};
            if (fd < 0 || poll(&p, 1, 1) <= 0) frame_loop_flush();
        }
    }
}

}  // namespace

live_capture_counts live_counts;

void print_raw_hex(decode_context& cx, const uint8_t* frame, uint32_t captured) {
    if (!settings.print_raw_hex) return;
    if (settings.print_ip_hex || settings.print_pppoe_hex || settings.print_tcp_text || settings.print_udp_text ||
        settings.print_tcp_hex || settings.print_udp_hex)
        return;
    hex_dump(cx, frame, captured);
}

int run_pcap_capture(const char* program_path, int promisc, int snaplen, const char* filter_rule, int optimize,
                     int max_packets) {
    (void)program_path;
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    const char* device = settings.device;
    char* found_device = nullptr;
    if (!device && !settings.pcap_file) {
        found_device = default_device(errbuf);
        if (!found_device) {
            zelk_fprintf(stderr, "Error: Can't open device %s, because: %s\n\n", "", errbuf);
            exit(1);
        }
        device = found_device;
    }

    pcap_t* handle;
    status_lines startup;
    if (settings.pcap_file) {
        handle = open_pcap_file(settings.pcap_file, errbuf, &capture.nanosecond_file);
        if (!handle) {
            zelk_fprintf(stderr, "Error: Can't open pcap file %s, because: %s\n\n", settings.pcap_file, errbuf);
            exit(1);
        }
        capture.nanosecond_times = pcap_get_tstamp_precision(handle) == PCAP_TSTAMP_PRECISION_NANO;
        capture.reading_file = true;
        // A --range slice starts at its first record; one with none reads nothing.
        if (!slice_begin(handle)) {
            reading_ended = true;
            pcap_breakloop(handle);
        }
        if (slice_prints_opening()) zelk_printf("Read packet(s) from file: %s.\n", settings.pcap_file);
    } else {
        zelk_check_capture_privilege(promisc != 0);
        zelk_printf("Receive packet(s) on device: %s\n", device);
        handle = open_live_device(device, snaplen, promisc, errbuf, settings.buffer_size);
        if (!handle) {
            zelk_fprintf(stderr, "Error: Can't open device %s, because: %s\n\n", device, errbuf);
            exit(1);
        }
        capture.nanosecond_times = pcap_get_tstamp_precision(handle) == PCAP_TSTAMP_PRECISION_NANO;
    }
    capture.handle = handle;

    bpf_u_int32 net = 0, mask = 0;
    if (pcap_lookupnet(settings.pcap_file ? nullptr : device, &net, &mask, errbuf) == -1) {
        net = mask = 0;
    } else if (settings.verbose && slice_prints_opening()) {
        in_addr a{};
        a.s_addr = net;
        zelk_printf("Looking at: %s/", inet_ntoa(a));
        a.s_addr = mask;
        zelk_printf("%s\n", inet_ntoa(a));
    }

    // Kept for the frames read straight from a mapped file.
    static bpf_program program{};
    if (filter_rule) {
        if (pcap_compile(handle, &program, filter_rule, optimize, mask) == -1) {
            zelk_fprintf(stderr, "Error: Can't compile(pcap_compile) filter rule, because: %s\n", pcap_geterr(handle));
            exit(1);
        }
        if (pcap_setfilter(handle, &program) == -1) {
            zelk_fprintf(stderr, "Error: Can't set(pcap_setfilter) filter rule, because: %s\n", pcap_geterr(handle));
            exit(1);
        }
        zelk_printf("Filter rule: %s\n", filter_rule);
    }

    if (settings.logfile_raw) {
        // The raw log is a nanosecond file only after one; it stays the
        // microsecond file it always was for pcapng and live capture.
        pcap_t* log_template = handle;
        if (capture.nanosecond_times && !capture.nanosecond_file)
            log_template = pcap_open_dead_with_tstamp_precision(pcap_datalink(handle), pcap_snapshot(handle),
                                                                PCAP_TSTAMP_PRECISION_MICRO);
        bool opened = log_template && open_raw_log(log_template, settings.logfile_raw, errbuf);
        if (log_template && log_template != handle) pcap_close(log_template);
        if (!opened) {
            zelk_fprintf(stderr, "Error: Can't open(pcap_dump_open) logfile, because: %s\n", errbuf);
            exit(1);
        }
    }

    int link_type = pcap_datalink(handle);
    capture.link_type = link_type;
    if (!link_type_lookup(link_type, &capture.link_header_length, &capture.link_decoder_index)) {
        zelk_fprintf(stderr, "Error: Unknown device/datalink type %d\n", link_type);
        zelk_printf(".\n\n");
        exit(1);
    }
    free(found_device);

    startup.end();
    if (capture.stop_signal) return 0;
    begin_capture();
    // A live capture may run for long before its first frame: show the
    // start-up lines now.
    if (!capture.reading_file) zelk_flush(stdout);
    unsigned long frames_before = capture.frame_counter;
    auto* user = reinterpret_cast<u_char*>(capture.raw_log_dumper);
    int rc = 0;
    bool stopped = false;
    long handed = 0;
    if (reading_ended) {
        stopped = true;
    } else if (capture.reading_file) {
        frames_stay = true;
        handed = read_mapped_pcap(handle, filter_rule ? &program : nullptr, max_packets, pcap_frame_handler, user,
                                  [] { return reading_ended; }, &stopped);
        frames_stay = false;
    }
    // libpcap reads what the map left: the end, or a record it must judge.
    if (stopped)
        rc = PCAP_ERROR_BREAK;
    else if (max_packets <= 0 || handed < max_packets)
        rc = capture.reading_file
                 ? pcap_loop(handle, max_packets > 0 ? static_cast<int>(max_packets - handed) : max_packets,
                             pcap_frame_handler, user)
                 : live_loop(handle, max_packets, user);
    if (filter_rule) pcap_freecode(&program);
    frame_loop_drain();
    // A stop signal may interrupt a read from a pipe: that is the stop, no
    // damage.
    if (rc == PCAP_ERROR && zelk_stopped_by_signal() && strstr(pcap_geterr(handle), strerror(EINTR))) rc = 0;
    if (rc == PCAP_ERROR) {
        // A cut file or a vanished interface: say why, then the reports.
        // A damaged compressed file is named by zlib's reason, not by
        // whatever errno libpcap found.
        if (const char* why = compressed_read_error())
            stop_with_error("error reading dump file: %s", why);
        else
            stop_with_error("%s", pcap_geterr(handle));
    } else if (rc == PCAP_ERROR_BREAK && !capture.reading_file && capture.stop_signal > 0) {
        drain_live_capture(handle, frames_before, max_packets);
    }
    return 0;
}

void pcap_frame_handler(u_char* user, const pcap_pkthdr* packet_header, const u_char* frame) {
    captured_frame f{};
    f.bytes = frame;
    f.lengths = frame_lengths{packet_header->caplen, packet_header->len};
    f.bytes_stay = frames_stay;
    frame_stamp stamp = stamp_of(packet_header);
    f.seconds = stamp.seconds;
    f.microseconds = stamp.microseconds;
    f.nano_rest = stamp.nano_rest;
    f.line = frame_line_kind::received;
    f.decoder = link_decoders[capture.link_decoder_index];
    f.link_header_length = capture.link_header_length;
    f.link_type = capture.link_type;
    f.raw_log = user != nullptr;
    f.raw_log_header = *packet_header;
    if (capture.nanosecond_times && !capture.nanosecond_file) f.raw_log_header.ts.tv_usec = stamp.microseconds;
    frame_loop_handle(f);
    if (slice_done_after_record(capture.handle)) {
        reading_ended = true;
        pcap_breakloop(capture.handle);
    }
    if (drain_target && capture.frame_counter >= drain_target && capture.handle) pcap_breakloop(capture.handle);
}

frame_stamp stamp_of(const pcap_pkthdr* header) {
    if (!capture.nanosecond_times)
        return {header->ts.tv_sec, static_cast<unsigned>(header->ts.tv_usec), 0};
    // The file's 32 bits as they stand, a damaged count of a billion or more
    // included.
    auto nanoseconds = static_cast<uint32_t>(header->ts.tv_usec);
    return {header->ts.tv_sec, nanoseconds / 1000, nanoseconds % 1000};
}

void print_read_totals() {
    // A person at the terminal learns how much was read; files and pipes
    // keep the output as it always was.
    if (options.quiet_given || options.really_quiet_given || !isatty(fileno(stdout)) || slice_active()) return;
    zelk_printf("\n%lu frames, %llu bytes read.\n", capture.frame_counter,
                static_cast<unsigned long long>(capture.captured_bytes));
}

void capture_summary() {
    if (!capture.handle || capture.reading_file) return;
    zelk_flush(stdout);
    pcap_stat stats = stop_statistics;
    if (!have_stop_statistics && pcap_stats(capture.handle, &stats) == -1) {
        stop_with_error("Can't read the kernel statistics: %s", pcap_geterr(capture.handle));
        return;
    }
    live_counts = {true, stats.ps_recv, stats.ps_drop, stats.ps_ifdrop};
    zelk_printf("\nReceived %d packets", static_cast<int>(stats.ps_recv));
    if (settings.count) zelk_printf("(%lu bytes)", static_cast<unsigned long>(capture.byte_total));
    zelk_printf(", %d dropped by kernel", static_cast<int>(stats.ps_drop));
    // Beside summary lines or JSON Lines (the line is on standard error
    // then) the interface's own drops are told too.
    if (settings.record_fields) zelk_printf(", %d dropped by interface", static_cast<int>(stats.ps_ifdrop));
    zelk_printf(".\n");
}
