#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "zelk.h"

namespace {

// The directory part of a path ("." for a bare name).
std::string parent_of(const char* path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    size_t slash = p.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return p.substr(0, slash);
}

bool get_capabilities(__user_cap_data_struct data[2]) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return syscall(SYS_capget, &header, data) == 0;
}

bool has_effective(const __user_cap_data_struct data[2], int capability) {
    return (data[capability / 32].effective >> (capability % 32)) & 1;
}

}  // namespace

bool zelk_symlink_is_protected(const char* path) {
    struct stat link {};
    if (lstat(path, &link) != 0 || !S_ISLNK(link.st_mode)) return false;
    struct stat directory {};
    if (stat(parent_of(path).c_str(), &directory) != 0) return false;
    bool sticky_world_writable = (directory.st_mode & S_ISVTX) && (directory.st_mode & S_IWOTH);
    // The kernel's rule: in such a directory only links of the directory's
    // owner, or of whoever follows them, are followed.
    return sticky_world_writable && link.st_uid != geteuid() && link.st_uid != directory.st_uid;
}

namespace {

// The kernel's rule for existing files in a sticky world-writable
// directory, applied whatever the system's setting: only files of our own
// or of the directory's owner are opened for creating. Another user could
// otherwise have placed a file there to read or keep what we write.
bool belongs_to_another_user(const struct stat& file, const char* directory_path) {
    if (file.st_uid == geteuid()) return false;
    struct stat directory {};
    if (stat(directory_path, &directory) != 0) return false;
    bool sticky_world_writable = (directory.st_mode & S_ISVTX) && (directory.st_mode & S_IWOTH);
    return sticky_world_writable && file.st_uid != directory.st_uid;
}

// Where an open descriptor's file really lies (after any symbolic link).
std::string directory_of(int fd, const char* path) {
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[4096];
    ssize_t n = readlink(link, target, sizeof target - 1);
    if (n <= 0) return parent_of(path);
    target[n] = 0;
    return parent_of(target);
}

int open_without_planted_links(const char* path, int flags, unsigned mode) {
    int fd = open(path, flags | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0 || errno != ELOOP) return fd;
    // A symbolic link: followed unless another user may have planted it.
    if (zelk_symlink_is_protected(path)) {
        errno = EPERM;
        return -1;
    }
    return open(path, flags | O_CLOEXEC, mode);
}

}  // namespace

int zelk_open_protected(const char* path, int flags, unsigned mode) {
    if (!(flags & O_CREAT) || (flags & O_EXCL)) return open_without_planted_links(path, flags, mode);
    int fd = open_without_planted_links(path, flags | O_EXCL, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
    // The file exists: look at whose it is before anything is truncated
    // or written.
    fd = open_without_planted_links(path, flags & ~(O_CREAT | O_TRUNC), mode);
    if (fd < 0 && errno == ENOENT) fd = open_without_planted_links(path, flags, mode);  // removed meanwhile
    if (fd < 0) return fd;
    struct stat file {};
    if (fstat(fd, &file) != 0 || belongs_to_another_user(file, directory_of(fd, path).c_str())) {
        close(fd);
        errno = EPERM;
        return -1;
    }
    if ((flags & O_TRUNC) && S_ISREG(file.st_mode) && ftruncate(fd, 0) != 0) {
        int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

const char* zelk_open_error_text(const char* path, int error) {
    if (error == EPERM && zelk_symlink_is_protected(path))
        return "a symbolic link of another user in a sticky world-writable directory";
    struct stat file {};
    if (error == EPERM && stat(path, &file) == 0 && belongs_to_another_user(file, parent_of(path).c_str()))
        return "a file of another user in a sticky world-writable directory";
    return strerror(error);
}

bool zelk_may_capture(bool promiscuous) {
    if (getuid() == 0 || geteuid() == 0 || getgid() == 0 || getegid() == 0) return true;
    __user_cap_data_struct data[2] = {};
    if (!get_capabilities(data)) return false;
    return has_effective(data, CAP_NET_RAW) && (!promiscuous || has_effective(data, CAP_NET_ADMIN));
}

void zelk_check_capture_privilege(bool promiscuous) {
    if (zelk_may_capture(promiscuous)) return;
    zelk_check_root();
}

bool zelk_drop_privileges(const char* user_name, char* error, size_t error_size) {
    if (geteuid() == 0) {
        const passwd* user = getpwnam(user_name);
        if (!user) {
            snprintf(error, error_size, "no user %s", user_name);
            return false;
        }
        uid_t uid = user->pw_uid;
        gid_t gid = user->pw_gid;
        // No capability may come back through an executed file either.
        for (int c = 0; c <= CAP_LAST_CAP; ++c) prctl(PR_CAPBSET_DROP, c, 0, 0, 0);
        if (setgroups(0, nullptr) != 0 || setresgid(gid, gid, gid) != 0 || setresuid(uid, uid, uid) != 0) {
            snprintf(error, error_size, "can't switch to user %s: %s", user_name, strerror(errno));
            return false;
        }
        if (uid != 0 && (setuid(0) == 0 || seteuid(0) == 0)) {
            snprintf(error, error_size, "root could be regained");
            return false;
        }
    }
    // Capabilities left over (a process started with CAP_NET_RAW, say).
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[2] = {};
    if (geteuid() != 0 && syscall(SYS_capset, &header, none) != 0) {
        snprintf(error, error_size, "can't drop capabilities: %s", strerror(errno));
        return false;
    }
    prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
#if defined(__SANITIZE_ADDRESS__)
    // The leak checker inspects the process from a helper task, which a
    // process that changed its identity no longer allows.
    prctl(PR_SET_DUMPABLE, 1, 0, 0, 0);
#endif
    return true;
}
