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

int pid_file = -1;
// The process that created the pid file and removes it at its exit.
pid_t pid_file_owner = 0;
// Written to once the daemon runs; its parent waits for that.
int ready_pipe = -1;
pid_t worker = 0;

[[noreturn]] void pid_file_failed(const char* what) {
    fprintf(stderr, "Error: Can't %s pid file %s: %s.\n", what, pid_file_path, strerror(errno));
    exit(1);
}

// Created exclusively, never through a symbolic link, and locked for the
// daemon's life: a pid file whose lock is free is stale and replaced.
int create_pid_file() {
    for (int attempt = 0; attempt < 5; ++attempt) {
        int fd = open(pid_file_path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0) {
            if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
                // Another daemon took it between our create and lock.
                close(fd);
                continue;
            }
            fchmod(fd, 0644);
            return fd;
        }
        if (errno != EEXIST) pid_file_failed("create");
        int existing = open(pid_file_path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
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
        unlink(pid_file_path);
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

void forward_signal(int signal_number) {
    if (worker > 0) kill(worker, signal_number);
}

}  // namespace

void remove_pid_file() {
    if (pid_file_owner == 0 || pid_file_owner != getpid()) return;
    unlink(pid_file_path);
    close(pid_file);
    pid_file = -1;
    pid_file_owner = 0;
}

int become_daemon() {
    // Before the split, so that a failure is seen where the daemon was started.
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
        unlink(pid_file_path);
        _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
    }
    close(ready[0]);
    ready_pipe = ready[1];
    pid_file_owner = getpid();
    setsid();
    if (settings.logfile) {
        if (!freopen("/dev/null", "r", stdin)) zelk_fprintf(stderr, "Error: Can't open file /dev/null(daemon).\n");
        if (!redirect_stream(stdout, settings.logfile))
            zelk_fprintf(stderr, "Error: Can't open logfile(daemon) %s.\n", settings.logfile);
        if (!redirect_stream(stderr, settings.logfile))
            zelk_fprintf(stderr, "Error: Can't open logfile(daemon) %s.\n", settings.logfile);
    } else {
        // Closed streams would leave their descriptors free for the next
        // open file; pointing them at /dev/null discards the output instead.
        if (!freopen("/dev/null", "r", stdin)) zelk_fprintf(stderr, "Error: Can't close stdin(daemon) filehandle.\n");
        if (!freopen("/dev/null", "w", stdout)) zelk_fprintf(stderr, "Error: Can't close stdout(daemon) filehandle.\n");
        if (!freopen("/dev/null", "w", stderr)) zelk_fprintf(stderr, "Error: Can't close stderr(daemon) filehandle.\n");
    }
    write_pid(getpid());
    return 0;
}

void daemon_started() {
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
