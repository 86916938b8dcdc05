#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "driver/run.h"
#include "driver/settings.h"
#include "zelk.h"

namespace {

// Written to, by the daemon that created the pid file.
int pid_file = -1;
// A second description of the same file, read-only, that holds the lock.
// Every process of the daemon keeps it, so that no second daemon starts
// while any of them lives; none of them can change the file through it.
int pid_lock = -1;
// The process that created the pid file and removes it at its exit.
pid_t pid_file_owner = 0;
// Written to once the daemon runs; its parent waits for that.
int ready_pipe = -1;
pid_t worker = 0;
// The text log, opened before the split so that a failure ends the start.
int daemon_log = -1;
// Where standard error goes once the daemon runs.
int later_stderr = -1;

[[noreturn]] void pid_file_failed(const char* what) {
    fprintf(stderr, "Error: Can't %s pid file %s: %s.\n", what, settings.pid_file, strerror(errno));
    exit(1);
}

// Whether the path still names the file behind fd (not a replacement).
bool same_file(int fd, const char* path) {
    struct stat open_file {};
    struct stat named {};
    return fstat(fd, &open_file) == 0 && lstat(path, &named) == 0 && open_file.st_dev == named.st_dev &&
           open_file.st_ino == named.st_ino;
}

// Created exclusively, never through a symbolic link, and locked for the
// daemon's life: a pid file whose lock is free is stale and replaced.
int create_pid_file() {
    const char* path = settings.pid_file;
    for (int attempt = 0; attempt < 5; ++attempt) {
        int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0) {
            int lock = open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
            if (lock < 0 || !same_file(lock, path) || flock(lock, LOCK_EX | LOCK_NB) != 0) {
                // Another start took it between our create and lock.
                if (lock >= 0) close(lock);
                close(fd);
                continue;
            }
            fchmod(fd, 0644);
            pid_lock = lock;
            return fd;
        }
        if (errno != EEXIST) pid_file_failed("create");
        int existing = open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (existing < 0) {
            if (errno == ENOENT) continue;
            pid_file_failed("open");
        }
        struct stat st {};
        if (fstat(existing, &st) != 0 || !S_ISREG(st.st_mode)) {
            errno = EINVAL;
            pid_file_failed("use");
        }
        if (flock(existing, LOCK_EX | LOCK_NB) != 0) {
            char text[32] = "";
            ssize_t n = pread(existing, text, sizeof text - 1, 0);
            text[n > 0 ? n : 0] = 0;
            fprintf(stderr, "Error: nodrix is already running, pid %d.\n", atoi(text));
            exit(1);
        }
        if (same_file(existing, path)) unlink(path);
        close(existing);
    }
    errno = EBUSY;
    pid_file_failed("create");
}

void write_pid(pid_t pid) {
    char text[32];
    int n = snprintf(text, sizeof text, "%d\n", static_cast<int>(pid));
    if (ftruncate(pid_file, 0) != 0 || pwrite(pid_file, text, static_cast<size_t>(n), 0) != n) pid_file_failed("write");
}

// The pid the file names: this process's, or the capture child's that a
// watcher started.
bool names_this_daemon(int fd) {
    char text[32] = "";
    ssize_t n = pread(fd, text, sizeof text - 1, 0);
    text[n > 0 ? n : 0] = 0;
    pid_t named = static_cast<pid_t>(atoi(text));
    return named > 0 && (named == getpid() || named == worker);
}

// After the daemon ended without cleaning up: the file goes when no
// process holds its lock any more and it is still the one created here.
void remove_stale_pid_file(const struct stat& created) {
    int fd = open(settings.pid_file, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st {};
    if (flock(fd, LOCK_EX | LOCK_NB) == 0 && fstat(fd, &st) == 0 && st.st_dev == created.st_dev &&
        st.st_ino == created.st_ino && same_file(fd, settings.pid_file))
        unlink(settings.pid_file);
    close(fd);
}

void forward_signal(int signal_number) {
    if (worker > 0) kill(worker, signal_number);
}

// Standard output or error onto an open file, keeping the file open.
bool point_stream_at(FILE* stream, int fd) {
    zelk_flush(stream);
    return dup2(fd, fileno(stream)) >= 0;
}

}  // namespace

void remove_pid_file() {
    if (pid_lock < 0 || pid_file_owner != getpid()) return;
    // Only while the file is still ours: a file put in its place by someone
    // else stays.
    if (same_file(pid_lock, settings.pid_file) && names_this_daemon(pid_lock)) unlink(settings.pid_file);
    close(pid_lock);
    pid_lock = -1;
    if (pid_file >= 0) close(pid_file);
    pid_file = -1;
    pid_file_owner = 0;
}

int become_daemon() {
    // Before the split, so that a failure is seen where the daemon was started.
    if (settings.logfile) {
        daemon_log = zelk_open_protected(settings.logfile, O_WRONLY | O_APPEND | O_CREAT, 0600);
        if (daemon_log < 0) {
            zelk_fprintf(stderr, "Error: Can't open logfile(daemon) %s.\n", settings.logfile);
            exit(1);
        }
    }
    pid_file = create_pid_file();
    pid_file_owner = getpid();
    atexit(remove_pid_file);
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) ready[0] = ready[1] = -1;
    zelk_drain_output();
    pid_t pid = fork();
    if (pid < 0) {
        write_pid(getpid());
        return -1;
    }
    if (pid > 0) {
        // The parent waits until the daemon captures, or ends with its status.
        close(ready[1]);
        char byte = 0;
        ssize_t n;
        do n = read(ready[0], &byte, 1);
        while (n < 0 && errno == EINTR);
        if (n == 1) _exit(0);
        int status = 0;
        waitpid(pid, &status, 0);
        // A daemon killed before it could clean up leaves nothing behind.
        struct stat created {};
        fstat(pid_lock, &created);
        close(pid_lock);
        close(pid_file);
        remove_stale_pid_file(created);
        _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
    }
    close(ready[0]);
    ready_pipe = ready[1];
    pid_file_owner = getpid();
    setsid();
    if (settings.logfile) {
        if (!freopen("/dev/null", "r", stdin)) zelk_fprintf(stderr, "Error: Can't open file /dev/null(daemon).\n");
        if (!point_stream_at(stdout, daemon_log))
            zelk_fprintf(stderr, "Error: Can't open logfile(daemon) %s.\n", settings.logfile);
        // Standard error follows once the daemon runs (daemon_started): a
        // failure before that is told where the daemon was started.
        later_stderr = daemon_log;
        daemon_log = -1;
    } else {
        // Closed streams would leave their descriptors free for the next
        // open file; pointing them at /dev/null discards the output instead.
        if (!freopen("/dev/null", "r", stdin)) zelk_fprintf(stderr, "Error: Can't close stdin(daemon) filehandle.\n");
        if (!freopen("/dev/null", "w", stdout)) zelk_fprintf(stderr, "Error: Can't close stdout(daemon) filehandle.\n");
        later_stderr = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (later_stderr < 0) zelk_fprintf(stderr, "Error: Can't close stderr(daemon) filehandle.\n");
    }
    write_pid(getpid());
    return 0;
}

void daemon_started() {
    if (later_stderr >= 0) {
        if (!point_stream_at(stderr, later_stderr)) {
            if (settings.logfile)
                zelk_fprintf(stderr, "Error: Can't open logfile(daemon) %s.\n", settings.logfile);
            else
                zelk_fprintf(stderr, "Error: Can't close stderr(daemon) filehandle.\n");
        }
        close(later_stderr);
        later_stderr = -1;
    }
    if (ready_pipe < 0) return;
    char byte = 1;
    ssize_t ignored = write(ready_pipe, &byte, 1);
    (void)ignored;
    close(ready_pipe);
    ready_pipe = -1;
}

// An unprivileged process cannot remove a file from /var/run: the daemon
// splits once more. The capture goes on in the child, whose pid the file
// names; the parent keeps root and the file's lock, passes signals on,
// and removes the file when the capture has ended.
void start_pid_file_watcher() {
    if (pid_file_owner == 0 || pid_file_owner != getpid()) return;
    zelk_flush(nullptr);
    worker = fork();
    if (worker < 0) pid_file_failed("watch");
    if (worker == 0) {
        write_pid(getpid());
        // The capture keeps only the lock: killing the watcher must not
        // let a second daemon start beside it.
        close(pid_file);
        pid_file = -1;
        return;
    }
    if (ready_pipe >= 0) close(ready_pipe);
    ready_pipe = -1;
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) signal(s, forward_signal);
    int status = 0;
    while (waitpid(worker, &status, 0) < 0 && errno == EINTR) {
    }
    remove_pid_file();
    if (WIFSIGNALED(status)) {
        signal(WTERMSIG(status), SIG_DFL);
        raise(WTERMSIG(status));
    }
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
}
