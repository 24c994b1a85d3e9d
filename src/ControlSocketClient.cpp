#include "ControlSocketClient.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

bool fillAddress(sockaddr_un& addr, const std::string& path) {
    memset(&addr, 0, sizeof(addr));
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof(addr.sun_path)) {
        return false;
    }
    memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return true;
}

void relink(const char* target, const char* link) {
    unlink(link);
    if (symlink(target, link) != 0 && errno != EEXIST) {
        perror("kiv client link");
    }
}

} // namespace

ControlSocketClient::ControlSocketClient() {
    m_fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        perror("kiv client socket");
        return;
    }
    // Writable for everyone, sticky so nobody can remove another user's socket.
    mkdir(SOCKET_DIR, 01777);
    chmod(SOCKET_DIR, 01777);
    m_path = std::string(SOCKET_DIR) + "/KIV." + std::to_string(getpid());
    unlink(m_path.c_str());
    sockaddr_un addr;
    fillAddress(addr, m_path);
    if (bind(m_fd, (sockaddr*)&addr, sizeof(addr)) != 0) {
        perror("kiv client bind");
    }
    relink(DAEMON_SOCKET, "/tmp/KIVD");
    relink(m_path.c_str(), "/tmp/KIV");
}

ControlSocketClient::~ControlSocketClient() {
    if (m_fd >= 0) {
        close(m_fd);
    }
    if (!m_path.empty()) {
        unlink(m_path.c_str());
        // Only remove the compatibility link when it still names this run's socket.
        char target[256];
        ssize_t n = readlink("/tmp/KIV", target, sizeof(target) - 1);
        if (n > 0) {
            target[n] = 0;
            if (m_path == target) {
                unlink("/tmp/KIV");
            }
        }
    }
}

bool ControlSocketClient::Exchange(const std::string& request, std::string& reply) {
    reply.clear();
    if (m_fd < 0) {
        return false;
    }
    sockaddr_un daemon;
    fillAddress(daemon, DAEMON_SOCKET);
    if (sendto(m_fd, request.data(), request.size(), 0, (sockaddr*)&daemon, sizeof(daemon)) < 0) {
        return false;
    }
    char buf[REPLY_SIZE];
    for (int i = 0; i < 4000; i++) {
        ssize_t n = recv(m_fd, buf, sizeof(buf) - 1, MSG_DONTWAIT);
        if (n >= 0) {
            buf[n] = 0;
            reply.assign(buf, n);
            return true;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            return false;
        }
        usleep(500);
    }
    return false;
}
