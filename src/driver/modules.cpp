#include "driver/modules.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "decode/decoder.h"
#include "driver/settings.h"
#include "zelk.h"

namespace {

module_record* module_list;
unsigned module_count;
std::string combined_filter;
module_info_function describe;
// --module loaded one, or --modules named a directory (even an empty one).
bool modules_in_use;
module_description started_module;

// The payload handed to a module, copied and closed by a NUL byte.
uint8_t* payload_copy;
size_t payload_copy_size;
size_t payload_length;

const char* text_or_empty(const char* text) { return text ? text : ""; }

[[noreturn]] void loader_failed(const char* what) {
    zelk_fprintf(stderr, "%s\n", what);
    exit(1);
}

void* find_symbol(void* handle, const char* path, const char* name) {
    dlerror();
    void* symbol = dlsym(handle, name);
    if (const char* error = dlerror()) loader_failed(error);
    if (!symbol) {
        std::string text = std::string(path) + ": " + name + " is null";
        loader_failed(text.c_str());
    }
    return symbol;
}

[[noreturn]] void refuse(const std::string& path, const char* why) {
    fprintf(stderr, "Error: Refusing module %s: %s.\n", path.c_str(), why);
    exit(1);
}

// What root runs must be root's own: the file and every directory above
// it owned by root (or the file by us), and writable by nobody else. A
// sticky directory of root's may be world-writable: others cannot replace
// what is in it.
void check_module_owner(const char* path) {
    if (geteuid() != 0) return;
    char* resolved = realpath(path, nullptr);
    if (!resolved) return;  // the loader reports a missing file
    std::string at = resolved;
    free(resolved);
    bool file = true;
    for (;;) {
        struct stat st {};
        if (stat(at.c_str(), &st) != 0) refuse(at, strerror(errno));
        if (st.st_uid != 0 && st.st_uid != geteuid()) refuse(at, "owned by another user");
        bool sticky_root_directory = !file && (st.st_mode & S_ISVTX) && st.st_uid == 0;
        if ((st.st_mode & S_IWOTH) && !sticky_root_directory) refuse(at, "writable by everyone");
        if ((st.st_mode & S_IWGRP) && st.st_gid != 0 && !sticky_root_directory) refuse(at, "writable by its group");
        if (at == "/") break;
        size_t slash = at.rfind('/');
        at = slash == 0 ? "/" : at.substr(0, slash);
        file = false;
    }
}

// A directory may hold more than modules: only shared objects are loaded.
bool is_shared_object(const char* path) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    unsigned char header[18] = {};
    bool ok = read(fd, header, sizeof header) == static_cast<ssize_t>(sizeof header);
    close(fd);
    // ELF, type ET_DYN (little-endian field at offset 16).
    return ok &&
           memcmp(header,
                  "\x7f"
                  "ELF",
                  4) == 0 &&
           header[16] == 3 && header[17] == 0;
}

bool is_directory(const char* path) {
    struct stat st {};
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

int load_module(const char* path) {
    check_module_owner(path);
    auto* entry = static_cast<module_record*>(zelk_xcalloc(1, sizeof(module_record)));
    // A bare file name means the file here, not a search of the library path.
    std::string file = path;
    struct stat st {};
    if (!strchr(path, '/') && stat(path, &st) == 0) file = "./" + file;
    void* handle = dlopen(file.c_str(), RTLD_NOW);
    if (!handle) loader_failed(dlerror());
    describe = reinterpret_cast<module_info_function>(find_symbol(handle, path, "module_info"));
    entry->handler = reinterpret_cast<module_handler>(find_symbol(handle, path, "module_init"));

    module_description description{};
    zelk_drain_output();
    describe(&description);
    const char* filter = text_or_empty(description.filter);
    zelk_printf("Module name       : %s\n", text_or_empty(description.name));
    zelk_printf("Module version    : %s\n", text_or_empty(description.version));
    zelk_printf("Module filter     : %s\n", filter);
    combined_filter += (module_count == 0 ? "(" : " or (") + std::string(filter) + ")";
    if (settings.verbose) zelk_printf("Module description: %s\n", text_or_empty(description.description));
    zelk_printf("\n");

    entry->handle = handle;
    entry->version = text_or_empty(description.version);
    entry->name = text_or_empty(description.name);
    entry->description = text_or_empty(description.description);
    entry->combined_filter = strdup(combined_filter.c_str());
    entry->network = static_cast<uint16_t>(description.network);
    entry->protocol_a = description.protocol_a;
    entry->protocol_b = description.protocol_b;
    entry->port_a = description.port_a;
    entry->port_b = description.port_b;
    entry->port_c = description.port_c;
    entry->port_d = description.port_d;
    entry->next = module_list;
    module_list = entry;
    ++module_count;
    return 0;
}

void load_module_directory(const char* path) {
    DIR* directory = opendir(path);
    if (!directory) {
        zelk_printf("Error while directory opening %s.\n", path);
        return;
    }
    while (const dirent* item = readdir(directory)) {
        // Skips ".", ".." and hidden files.
        if (item->d_name[0] == '.') continue;
        char module_path[1023];
        int n = snprintf(module_path, sizeof module_path, "%s/%s", path, item->d_name);
        if (n <= 0 || static_cast<size_t>(n) >= sizeof module_path) {
            zelk_printf("Error while module loading from directory %s.\n", path);
            continue;
        }
        struct stat st {};
        if (stat(module_path, &st) != 0 || !S_ISREG(st.st_mode) || !is_shared_object(module_path)) {
            fprintf(stderr, "Warning: Skipping %s: not a shared object.\n", module_path);
            continue;
        }
        check_module_owner(module_path);
        void* probe = dlopen(module_path, RTLD_NOW | RTLD_LOCAL);
        bool usable = probe && dlsym(probe, "module_info") && dlsym(probe, "module_init");
        if (!usable) {
            fprintf(stderr, "Warning: Skipping %s: %s.\n", module_path,
                    probe ? "no module_info or module_init" : dlerror());
            if (probe) dlclose(probe);
            continue;
        }
        load_module(module_path);
        // load_module holds its own reference.
        dlclose(probe);
    }
    closedir(directory);
}

void start_modules() {
    command_line_options& o = options;
    if (o.module_given) {
        load_module(o.module);
        modules_in_use = true;
        zelk_drain_output();
        describe(&started_module);
        if (o.module_ignore_given) {
            zelk_printf("Warning: Ignoring modules' builtin BPF filter!\n\n");
        } else if (!o.filter_given && !o.filter_nopt_given && started_module.filter && *started_module.filter) {
            // The capture compiles the module's rule without optimisation.
            o.filter_nopt = strdup(started_module.filter);
            zelk_printf("Filter: %s\n", o.filter_nopt);
        }
    } else if (o.modules_given) {
        if (is_directory(o.modules)) {
            check_module_owner(o.modules);
            load_module_directory(o.modules);
            modules_in_use = true;
        } else {
            zelk_fprintf(stderr, "Error: %s\n",
                         "Your given argument to --modules isn't a directory! No modules were loaded!\n");
        }
    }
}

void offer_payload(const decode_context& cx, const uint8_t* payload, int32_t network, uint8_t protocol_a_value,
                   uint8_t protocol_b_value, uint16_t source_port, uint16_t destination_port) {
    // The look --where takes before a frame is shown: the module sees the
    // frame once, when it is decoded for the output.
    if (record_pass) return;
    for (module_record* m = module_list; m; m = m->next) {
        if (m->network != network) continue;
        if (m->protocol_a != protocol_a_value && m->protocol_b != protocol_b_value) continue;
        bool port_matches = false;
        for (uint16_t port : {m->port_a, m->port_b, m->port_c, m->port_d})
            if (port == source_port || port == destination_port) port_matches = true;
        if (!port_matches) continue;

        // The handler gets no length: a NUL-closed copy of the captured
        // payload keeps a module that scans text inside it.
        payload_length = ip_message_length(cx, payload);
        if (payload_copy_size < payload_length + 1) {
            payload_copy_size = payload_length + 1;
            payload_copy = static_cast<uint8_t*>(zelk_xrealloc(payload_copy, payload_copy_size));
        }
        if (payload_length) memcpy(payload_copy, payload, payload_length);
        payload_copy[payload_length] = 0;
        // A module may print with stdio itself: what was printed before
        // goes first.
        zelk_drain_output();
        m->handler(payload_copy, network, protocol_a_value, source_port, destination_port);
        return;
    }
}

bool modules_loaded() { return modules_in_use; }

void unload_modules() {
    while (module_record* m = module_list) {
        module_list = m->next;
        dlclose(m->handle);
        free(const_cast<char*>(m->combined_filter));
        free(m);
    }
}

extern "C" size_t module_payload_length(void) { return payload_length; }

extern "C" int module_printf(const char* format, ...) {
    if (!zelk_output_enabled()) return 0;
    zelk_drain_output();
    va_list ap;
    va_start(ap, format);
    int n = vfprintf(zelk_output(), format, ap);
    va_end(ap);
    return n;
}
