#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "driver/run.h"
#include "driver/settings.h"
#include "zelk.h"

int become_daemon() {
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid > 0) _exit(0);
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
        if (!freopen("/dev/null", "w", stdout))
            zelk_fprintf(stderr, "Error: Can't close stdout(daemon) filehandle.\n");
        if (!freopen("/dev/null", "w", stderr))
            zelk_fprintf(stderr, "Error: Can't close stderr(daemon) filehandle.\n");
    }
    FILE* pid_file = fopen(pid_file_path, "wb");
    if (!pid_file) {
        zelk_fprintf(stderr, "Error: Can't open pid file.\n");
    } else {
        fprintf(pid_file, "%d\n", static_cast<int>(getpid()));
        if (fclose(pid_file) != 0) zelk_fprintf(stderr, "Error: Can't close pid file.\n");
    }
    return 0;
}
