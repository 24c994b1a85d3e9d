#include "SignalRequests.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "MainLoop.h"

namespace {

int wakePipe[2] = {-1, -1};
std::atomic<int> reportRequest{0};
std::atomic<int> receivedSignal{0};
std::atomic<int> stopRequests{0};

void wake() {
    int saved = errno;
    char byte = 1;
    // A full pipe already wakes the loop.
    [[maybe_unused]] ssize_t n = write(wakePipe[1], &byte, 1);
    errno = saved;
}

void requestHandler(int signal) {
    switch (signal) {
    case SIGINT:
    case SIGTERM:
        if (stopRequests.fetch_add(1) >= 1) {
            // Asked twice: the orderly stop is not getting anywhere.
            ::signal(signal, SIG_DFL);
            raise(signal);
            return;
        }
        break;
    case SIGUSR2:
        restartKIVD = true;
        break;
    case SIGUSR1:
    case SIGQUIT:
        reportRequest = signal;
        break;
    }
    receivedSignal = signal;
    runMainKIVDLoop = 0;
    wake();
}

} // namespace

bool InstallRequestSignalHandlers() {
    bool ok = true;
    if (wakePipe[0] < 0) {
        ok = pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) == 0;
    }
    struct sigaction action = {};
    action.sa_handler = requestHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : {SIGINT, SIGTERM, SIGUSR1, SIGUSR2, SIGQUIT}) {
        ok = sigaction(s, &action, nullptr) == 0 && ok;
    }
    return ok;
}

int SignalWakeDescriptor() { return wakePipe[0]; }

bool DrainSignalWake(int fd) {
    char buffer[64];
    while (read(fd, buffer, sizeof(buffer)) > 0) {
    }
    return false;
}

int TakeCrashReportRequest() { return reportRequest.exchange(0); }

int TakeReceivedSignal() { return receivedSignal.exchange(0); }
