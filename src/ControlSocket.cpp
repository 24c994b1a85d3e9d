#include "ControlSocket.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "ControlCommand.h"
#include "log.h"

namespace {

int socket_fd = -1;
sockaddr_un server_address;
// Requests answered per CommandProc call.
constexpr int REQUESTS_PER_CALL = 64;

} // namespace

int Command_Initialize() {
    int fd = Command_Initialize(CONTROL_SOCKET_DIR, CONTROL_SOCKET_PATH, CONTROL_SOCKET_LINK);
    if (fd < 0) {
        exit(1);
    }
    return fd;
}

int Command_Initialize(const std::string& dir, const std::string& socketPath, const std::string& linkPath) {
    LogInfo(kivlog::Command, "Initializing Command Module\n");
    if (socket_fd >= 0) {
        CloseCommand();
    }
    memset(&server_address, 0, sizeof(server_address));
    server_address.sun_family = AF_UNIX;
    if (socketPath.empty() || socketPath.size() >= sizeof(server_address.sun_path)) {
        fprintf(stderr, "command socket bind: path too long: %s\n", socketPath.c_str());
        return -1;
    }
    memcpy(server_address.sun_path, socketPath.c_str(), socketPath.size() + 1);

    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        perror("server: socket");
        return -1;
    }
    // Writable for every local user, sticky so only the owner can unlink or replace it.
    mkdir(dir.c_str(), 01777);
    chmod(dir.c_str(), 01777);

    unlink(socketPath.c_str());
    mode_t old = umask(011);
    int rc = bind(fd, (sockaddr*)&server_address, sizeof(server_address));
    umask(old);
    if (rc < 0) {
        perror("command socket bind");
        close(fd);
        return -1;
    }
    if (!linkPath.empty() && symlink(socketPath.c_str(), linkPath.c_str()) != 0 && errno != EEXIST) {
        LogWarn(kivlog::Command, "Could not link %s to %s: %s\n", linkPath.c_str(), socketPath.c_str(),
                strerror(errno));
    }
    SetControlSocketStartTime((long)time(nullptr));
    socket_fd = fd;
    return fd;
}

void CommandProc() {
    if (socket_fd < 0) {
        return;
    }
    for (int i = 0; i < REQUESTS_PER_CALL; i++) {
        char request[CONTROL_REQUEST_MAX + 1];
        memset(request, 0, sizeof(request));
        sockaddr_un from;
        socklen_t fromLen = sizeof(from);
        memset(&from, 0, sizeof(from));
        ssize_t n = recvfrom(socket_fd, request, CONTROL_REQUEST_MAX, MSG_DONTWAIT, (sockaddr*)&from, &fromLen);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (i == 0) {
                LogWarn(kivlog::Command, "Command socket received but no bytes\n");
            }
            return;
        }
        // n <= CONTROL_REQUEST_MAX, so the text is terminated; ProcessCommand also stops
        // at an embedded NUL.
        std::string reply = ProcessCommand(std::string_view(request, (size_t)n));
        ssize_t sent = -1;
        int err = 0;
        if (fromLen > sizeof(sa_family_t)) {
            sent = sendto(socket_fd, reply.data(), reply.size(), MSG_DONTWAIT, (sockaddr*)&from, fromLen);
            err = sent < 0 ? errno : 0;
        } else {
            err = EDESTADDRREQ; // an unnamed sender cannot be answered
        }
        LogDebug(kivlog::Command, "%s - (%d %d %s) %s", request, (int)sent, err, err ? strerror(err) : "Success",
                 reply.c_str());
    }
}

void CloseCommand() {
    if (socket_fd >= 0) {
        close(socket_fd);
        unlink(server_address.sun_path);
        socket_fd = -1;
    }
}
