#include "driver/usage_checks.h"

#include <fcntl.h>
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
    // Only the pcap source opens the raw log.
    bool pcap_source = !settings.bt && (options.filter_given ||
                                        (!settings.use_zelklib && !settings.iptrace_file && !settings.snoop_file));
    // Scripts keep the old behaviour: only a person at a terminal is asked.
    if (!pcap_source || !isatty(STDIN_FILENO) || !looks_like_capture_file(path)) return;
    zelk_fprintf(stderr,
                 "Error: %s is a capture file, and -r (--logfile-raw) would overwrite it with a raw log of this run. "
                 "To read it use -P (--pcap-file); to overwrite it add --force-overwrite.\n",
                 path);
    exit(1);
}
