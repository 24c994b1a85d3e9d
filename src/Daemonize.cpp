#include "Daemonize.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "log.h"

bool RedirectStandardStreamsToNull() {
    int fd = open("/dev/null", O_RDWR);
    if (fd < 0) {
        return false;
    }
    bool ok = true;
    for (int target = 0; target <= 2; target++) {
        if (fd != target && dup2(fd, target) < 0) {
            ok = false;
        }
    }
    if (fd > 2) {
        close(fd);
    }
    return ok;
}

void Daemonize() {
    // Nothing buffered may be written twice by the forked copies.
    fflush(stdout);
    fflush(stderr);
    pid_t pid = fork();
    if (pid < 0) {
        LogErr(kivlog::General, "Error: Failed to fork: %m\n");
        exit(1);
    }
    if (pid > 0) {
        _exit(0);
    }
    umask(0);
    if (setsid() < 0) {
        LogErr(kivlog::General, "Error: setsid() failed: %m\n");
        exit(1);
    }
    pid = fork();
    if (pid < 0) {
        LogErr(kivlog::General, "Error: Failed to fork: %m\n");
        exit(1);
    }
    if (pid > 0) {
        _exit(0);
    }
    if (!RedirectStandardStreamsToNull()) {
        // Closed streams would be worse than a terminal that went away: keep them.
        LogWarn(kivlog::General, "Could not open /dev/null for the standard streams: %m\n");
    }
}
