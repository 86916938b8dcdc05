#include "capture/pcap_source.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "capture/frame.h"
#include "capture/frame_time.h"
#include "capture/pcap_open.h"
#include "decode/decoder.h"
#include "driver/run.h"
#include "driver/server.h"
#include "driver/settings.h"
#include "output/record.h"

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

}  // namespace

void print_frame_line(long seconds, unsigned microseconds, uint32_t captured, uint32_t wire) {
    const char* time_text = frame_time_text(seconds, microseconds);
    zelk_printf("\n%s - Received frame %lu(%u/%u bytes length)...", time_text, capture.frame_counter, captured, wire);
    if (settings.statistic) {
        auto elapsed = static_cast<uint32_t>(time(nullptr) - start_time);
        if (elapsed != 0)
            zelk_printf(" Utilization: %.0f B/s", static_cast<double>(capture.byte_total / elapsed));
        else
            zelk_printf(" Utilization: n.a.");
    }
    zelk_printf("\n");
}

void print_raw_hex(const uint8_t* frame, uint32_t captured) {
    if (!settings.print_raw_hex) return;
    if (settings.print_ip_hex || settings.print_pppoe_hex || settings.print_tcp_text || settings.print_udp_text ||
        settings.print_tcp_hex || settings.print_udp_hex)
        return;
    hex_dump(frame, captured);
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
    if (settings.pcap_file) {
        handle = open_pcap_file(settings.pcap_file, errbuf);
        if (!handle) {
            zelk_fprintf(stderr, "Error: Can't open pcap file %s, because: %s\n\n", settings.pcap_file, errbuf);
            exit(1);
        }
        capture.reading_file = true;
        zelk_printf("Read packet(s) from file: %s.\n", settings.pcap_file);
    } else {
        zelk_check_root();
        zelk_printf("Receive packet(s) on device: %s\n", device);
        handle = open_live_device(device, snaplen, promisc, errbuf);
        if (!handle) {
            zelk_fprintf(stderr, "Error: Can't open device %s, because: %s\n\n", device, errbuf);
            exit(1);
        }
    }
    capture.handle = handle;

    bpf_u_int32 net = 0, mask = 0;
    if (pcap_lookupnet(settings.pcap_file ? nullptr : device, &net, &mask, errbuf) == -1) {
        net = mask = 0;
    } else if (settings.verbose) {
        in_addr a{};
        a.s_addr = net;
        zelk_printf("Looking at: %s/", inet_ntoa(a));
        a.s_addr = mask;
        zelk_printf("%s\n", inet_ntoa(a));
    }

    if (filter_rule) {
        bpf_program program{};
        if (pcap_compile(handle, &program, filter_rule, optimize, mask) == -1) {
            zelk_fprintf(stderr, "Error: Can't compile(pcap_compile) filter rule, because: %s\n", pcap_geterr(handle));
            exit(1);
        }
        if (pcap_setfilter(handle, &program) == -1) {
            zelk_fprintf(stderr, "Error: Can't set(pcap_setfilter) filter rule, because: %s\n", pcap_geterr(handle));
            exit(1);
        }
        pcap_freecode(&program);
        zelk_printf("Filter rule: %s\n", filter_rule);
    }

    if (settings.logfile_raw) {
        capture.raw_log_dumper = pcap_dump_open(handle, settings.logfile_raw);
        if (!capture.raw_log_dumper) {
            zelk_fprintf(stderr, "Error: Can't open(pcap_dump_open) logfile, because: %s\n", pcap_geterr(handle));
            exit(1);
        }
    }

    int link_type = pcap_datalink(handle);
    capture.link_type = link_type;
    if (!link_type_lookup(link_type, &capture.link_header_length, &capture.link_decoder_index)) {
        zelk_fprintf(stderr, "Error: Unknown device/datalink type");
        zelk_printf(".\n\n");
        exit(1);
    }
    free(found_device);

    if (capture.stop_signal) return 0;
    // A live capture may run for long before its first frame: show the
    // start-up lines now.
    if (!capture.reading_file) fflush(stdout);
    int rc = pcap_loop(handle, max_packets, pcap_frame_handler, reinterpret_cast<u_char*>(capture.raw_log_dumper));
    if (rc == PCAP_ERROR) {
        pcap_close(handle);
        capture.handle = nullptr;
        exit(1);
    }
    return 0;
}

void pcap_frame_handler(u_char* user, const pcap_pkthdr* packet_header, const u_char* frame) {
    ++capture.frame_counter;
    begin_frame(packet_header->ts.tv_sec, static_cast<unsigned>(packet_header->ts.tv_usec), packet_header->caplen,
                packet_header->len);
    if (settings.beep_on) zelk_printf("%c", 7);
    capture.byte_total += packet_header->len;
    capture.captured_bytes += packet_header->caplen;
    print_frame_line(packet_header->ts.tv_sec, static_cast<unsigned>(packet_header->ts.tv_usec),
                     packet_header->caplen, packet_header->len);
    frame_lengths lengths{packet_header->caplen, packet_header->len};
    decode_frame(link_decoders[capture.link_decoder_index], &lengths, frame);
    print_raw_hex(frame, packet_header->caplen);
    // A message holds 65535 bytes of frame at most: send that much of a
    // larger one (-s 0) rather than what a wrapped length would leave.
    if (settings.server_addr)
        server_send_frame(frame, static_cast<uint16_t>(packet_header->caplen < 65535 ? packet_header->caplen : 65535));
    if (user) pcap_dump(user, packet_header, frame);
    end_frame();
    // A live capture shows every frame at once; a file is written out as
    // the buffer fills, which saves a system call per frame.
    if (!capture.reading_file) fflush(stdout);
}

void print_read_totals() {
    // A person at the terminal learns how much was read; files and pipes
    // keep the output as it always was.
    if (options.quiet_given || options.really_quiet_given || !isatty(fileno(stdout))) return;
    zelk_printf("\n%lu frames, %llu bytes read.\n", capture.frame_counter,
                static_cast<unsigned long long>(capture.captured_bytes));
}

void capture_summary() {
    if (!capture.handle || capture.reading_file) return;
    fflush(stdout);
    pcap_stat stats{};
    if (pcap_stats(capture.handle, &stats) == -1) exit(1);
    zelk_printf("\nReceived %d packets", static_cast<int>(stats.ps_recv));
    if (settings.count) zelk_printf("(%lu bytes)", static_cast<unsigned long>(capture.byte_total));
    zelk_printf(", %d dropped by kernel.\n", static_cast<int>(stats.ps_drop));
}
