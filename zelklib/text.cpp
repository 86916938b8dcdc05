#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <unordered_map>

#include "zelk.h"

namespace {
// Decoding threads each format their own addresses.
thread_local char mac_text[18];
uint8_t mac_bytes[6];
char time_text[60];
time_t time_value;
}  // namespace

char* zelk_mac_to_text(const uint8_t* mac) {
    // "%2.2x:" six times, without a format parser: it is called per frame.
    static const char digits[] = "0123456789abcdef";
    char* out = mac_text;
    for (int i = 0; i < 6; ++i) {
        if (i) *out++ = ':';
        *out++ = digits[mac[i] >> 4];
        *out++ = digits[mac[i] & 0x0f];
    }
    *out = 0;
    return mac_text;
}

uint8_t* zelk_text_to_mac(const char* text) {
    unsigned v[6];
    for (int i = 0; i < 6; ++i) v[i] = mac_bytes[i];
    sscanf(text, "%2x:%2x:%2x:%2x:%2x:%2x", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
    for (int i = 0; i < 6; ++i) mac_bytes[i] = static_cast<uint8_t>(v[i]);
    return mac_bytes;
}

char* zelk_prefix_to_text(uint32_t address, int prefix_length) {
    uint32_t host = zelk_ntohl(address);
    int shift = 32 - prefix_length;
    if (shift >= 32)
        host = 0;
    else if (shift > 0)
        host = (host >> shift) << shift;
    in_addr a{};
    a.s_addr = zelk_htonl(host);
    return strdup(inet_ntoa(a));
}

char* zelk_service_name(unsigned port, const char* protocol) {
    const servent* s = getservbyport(htons(static_cast<uint16_t>(port)), protocol);
    const char* name = s ? s->s_name : "unknown";
    size_t n = strlen(name) + 1;
    char* copy = static_cast<char*>(zelk_xmalloc(n));
    memcpy(copy, name, n);
    return copy;
}

namespace {

// Names of every TCP and UDP port, read from the services database in one
// pass on first use. A lookup per port costs a scan of the whole database,
// and traffic with many ephemeral ports would pay it for each new port.
// The first entry for a port wins, as with getservbyport.
struct service_table {
    const char* tcp[65536] = {};
    const char* udp[65536] = {};
    service_table() {
        setservent(0);
        while (const servent* s = getservent()) {
            auto port = ntohs(static_cast<uint16_t>(s->s_port));
            const char** slot = strcmp(s->s_proto, "tcp") == 0   ? &tcp[port]
                                : strcmp(s->s_proto, "udp") == 0 ? &udp[port]
                                                                 : nullptr;
            if (slot && !*slot) *slot = strdup(s->s_name);
        }
        endservent();
    }
};

}  // namespace

const char* zelk_service_name_cached(unsigned port, const char* protocol) {
    bool is_tcp = strcmp(protocol, "tcp") == 0;
    if (is_tcp || strcmp(protocol, "udp") == 0) {
        static const service_table* table = new service_table;
        const char* name = (is_tcp ? table->tcp : table->udp)[port & 0xffff];
        return name ? name : "unknown";
    }
    // The services database does not change during a run, and a lookup per
    // packet costs a file scan; keep every answer.
    static std::unordered_map<uint32_t, std::string> cache;
    static std::mutex cache_lock;
    std::lock_guard<std::mutex> hold(cache_lock);
    uint32_t key = (port & 0xffff) | (protocol[0] == 'u' ? 0x10000u : 0u);
    auto it = cache.find(key);
    if (it == cache.end()) {
        char* name = zelk_service_name(port, protocol);
        it = cache.emplace(key, name).first;
        free(name);
    }
    return it->second.c_str();
}

char* zelk_time_string() {
    time_value = time(nullptr);
    tm parts{};
    localtime_r(&time_value, &parts);
    strftime(time_text, sizeof time_text, "%H:%M:%S %d %b %Y", &parts);
    return time_text;
}

void zelk_check_root() {
    if (getuid() == 0 || geteuid() == 0 || getgid() == 0 || getegid() == 0) return;
    fprintf(stderr, "\nError: Please run this program as root!\n\n");
    exit(1);
}

uint32_t zelk_resolve_host(const char* text) {
    in_addr_t a = inet_addr(text);
    if (a != INADDR_NONE) return a;
    const hostent* h = gethostbyname(text);
    if (!h || h->h_addrtype != AF_INET || !h->h_addr_list[0]) {
        herror("Error occured while gethostbyname(host).\n");
        return INADDR_NONE;
    }
    uint32_t r = 0;
    memcpy(&r, h->h_addr_list[0], h->h_length < 4 ? h->h_length : 4);
    return r;
}

int zelk_install_sig(zelk_sig_handler handler) {
    static const struct {
        int number;
        const char* message;
    } signals[] = {
        {SIGINT, "Error: Signal error while SIGINT catching.\n"},
        {SIGQUIT, "Error: Signal error while SIGQUIT catching.\n"},
        {SIGABRT, "Error: Signal error while SIGABRT catching.\n"},
        {SIGPIPE, "Error: Signal error while SIGPIPE catching.\n"},
        {SIGSEGV, "Error: Signal error while SIGSEGV catching.\n"},
        {SIGTERM, "Error: Signal error while SIGTERM catching.\n"},
    };
    for (const auto& s : signals)
        if (signal(s.number, handler) == SIG_ERR) fputs(s.message, stderr);
    return 0;
}
