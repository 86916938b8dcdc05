#include "driver/usage_checks.h"

#include <fcntl.h>
#include <pcap/pcap.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "driver/settings.h"
#include "zelk.h"

void warn_about_positionals() {
    std::string ignored;
    bool promisc_leftover_seen = false;
    for (unsigned i = 0; i < options.inputs_num; ++i) {
        const char* argument = options.inputs[i];
        // "-p 0" and "-p 1", as the help text writes them.
        if (options.promisc_given && !promisc_leftover_seen &&
            (strcmp(argument, "0") == 0 || strcmp(argument, "1") == 0)) {
            promisc_leftover_seen = true;
            continue;
        }
        if (!ignored.empty()) ignored += ' ';
        ignored += argument;
    }
    if (ignored.empty()) return;
    // tcpdump's "-c 5" stops after five packets; here -c counts bytes and
    // the 5 is left over.
    const char* first = ignored.c_str();
    size_t digits = strspn(first, "0123456789");
    if (options.count_given && digits > 0 && (first[digits] == ' ' || first[digits] == 0)) {
        std::string number(first, digits);
        zelk_fprintf(stderr,
                     "Warning: ignored argument(s) \"%s\": -c (--count) takes no number; to stop after %s frames use "
                     "--max-packets %s.\n",
                     ignored.c_str(), number.c_str(), number.c_str());
        return;
    }
    zelk_fprintf(stderr, "Warning: ignored argument(s) \"%s\": a filter rule goes after -f (-f \"%s\").\n",
                 ignored.c_str(), ignored.c_str());
}

bool looks_like_capture_file(const char* path) {
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    unsigned char head[8] = {};
    ssize_t n = read(fd, head, sizeof head);
    close(fd);
    if (n < 4) return false;
    static const unsigned char magics[][4] = {
        {0xd4, 0xc3, 0xb2, 0xa1}, {0xa1, 0xb2, 0xc3, 0xd4},  // pcap, microseconds
        {0x4d, 0x3c, 0xb2, 0xa1}, {0xa1, 0xb2, 0x3c, 0x4d},  // pcap, nanoseconds
        {0x0a, 0x0d, 0x0d, 0x0a},                            // pcapng
        {'s', 'n', 'o', 'o'},                                // snoop
        {'i', 'p', 't', 'r'},                                // iptrace
    };
    for (const auto& magic : magics)
        if (memcmp(head, magic, 4) == 0) return true;
    // A compressed file is most likely a compressed capture.
    return head[0] == 0x1f && head[1] == 0x8b;
}

void refuse_overwriting_capture_file() {
    const char* path = settings.logfile_raw;
    if (!path || settings.force_overwrite) return;
    // "-r FILE" alone is tcpdump's way to read FILE: whoever types it, or a
    // script, wants it read, never replaced by a capture of the default device.
    bool source_named = settings.device || settings.pcap_file || settings.iptrace_file || settings.snoop_file ||
                        settings.bt || settings.use_zelklib;
    if (!source_named) {
        if (!looks_like_capture_file(path)) return;
        zelk_fprintf(stderr,
                     "Error: %s is a capture file, and -r (--logfile-raw) would overwrite it with a raw log of this "
                     "run. To read it use -P %s; to overwrite it name the capture source (-d DEVICE) or add "
                     "--force-overwrite.\n",
                     path, path);
        exit(1);
    }
    // Only the pcap source opens the raw log.
    bool pcap_source = !settings.bt && (options.filter_given ||
                                        (!settings.use_zelklib && !settings.iptrace_file && !settings.snoop_file));
    // With a source named, only a person at a terminal is asked.
    if (!pcap_source || !isatty(STDIN_FILENO) || !looks_like_capture_file(path)) return;
    zelk_fprintf(stderr,
                 "Error: %s is a capture file, and -r (--logfile-raw) would overwrite it with a raw log of this run. "
                 "To read it use -P (--pcap-file); to overwrite it add --force-overwrite.\n",
                 path);
    exit(1);
}

void resolve_device_number() {
    const char* device = settings.device;
    if (!device || !*device || strspn(device, "0123456789") != strlen(device)) return;
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    pcap_if_t* devices = nullptr;
    if (pcap_findalldevs(&devices, errbuf) == -1) return;  // the open reports the problem
    unsigned long wanted = strtoul(device, nullptr, 10);
    unsigned long number = 0;
    const char* found = nullptr;
    for (const pcap_if_t* d = devices; d; d = d->next) {
        // A device that is really called so keeps its name.
        if (strcmp(d->name, device) == 0) {
            pcap_freealldevs(devices);
            return;
        }
        if (++number == wanted && !found) found = d->name;
    }
    if (!found) {
        pcap_freealldevs(devices);
        zelk_fprintf(stderr, "Error: No device number %s; --list-interfaces numbers %lu device(s).\n", device, number);
        exit(1);
    }
    free(options.device);
    options.device = strdup(found);
    settings.device = options.device;
    pcap_freealldevs(devices);
}
