#pragma once

#include <string>

// One request/reply exchange with the daemon's control socket.
class ControlSocketClient {
public:
    static constexpr const char* SOCKET_DIR = "/run/kivd";
    static constexpr const char* DAEMON_SOCKET = "/run/kivd/KIVD";
    static constexpr size_t REPLY_SIZE = 256;

    // Binds this run's own address ("/run/kivd/KIV.<pid>", so runs at once never take each
    // other's replies) and points the "/tmp/KIV" link at it. Errors are printed, not fatal.
    ControlSocketClient();
    ~ControlSocketClient();

    // Sends `request` and waits about 2 s for the reply. Returns false when none came.
    // The reply is cut to 255 bytes.
    bool Exchange(const std::string& request, std::string& reply);

private:
    int m_fd = -1;
    std::string m_path;
};
